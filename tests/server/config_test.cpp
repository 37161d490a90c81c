// The settings: the file, and the address to listen on that they give.
#include "server/config.h"

#include <gtest/gtest.h>

#include <tuple>

#include "base/errors.h"
#include "server/listen_address.h"
#include "support/temp_dir.h"

namespace tessaly::server {
namespace {

using tessaly::testing::TempDir;

// The message of the ConfigError that `f` throws; "" when it throws none.
template <typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const ConfigError& error) {
    return error.what();
  }
  return "";
}

TEST(ConfigTest, ReadsEveryKeyAndKeepsTheOthers) {
  TempDir dir;
  const auto file = dir.Write("tessaly.toml", R"(
root = "/srv/site"
listen = "0.0.0.0:80"
threads = 4
access_log = "/var/log/tessaly.log"
trusted_proxies = ["2001:DB8::1", "::ffff:10.0.0.2"]
database = { url = "postgresql://web@db.internal/site" }
session = { timeout_minutes = 30, store = "database" }
cache = { max_bytes = 0 }
site = { label = "工地", webmaster_email = "a@b", credit_text = "c", credit_url = "x", url = "http://e/" }
page = [{ path = "/news", web_path = "data", hot_news = 5, image_size = 3000000000 },
        { path = "/b", hot_news = "7", image_size = 2.5 }]
[limits]
max_header_bytes = 8192
max_body_bytes = 1048576
max_body_memory_bytes = 2097152
max_connections = 10
read_timeout_seconds = 11
idle_timeout_seconds = 5
max_sessions = 50
)");
  ServerConfig config;
  config.texts.notice = "kept";
  LoadConfigFile(file.string(), config);
  EXPECT_EQ(std::tie(config.root, config.listen, config.access_log, config.database_url),
            std::make_tuple("/srv/site", "0.0.0.0:80", "/var/log/tessaly.log",
                            "postgresql://web@db.internal/site"));
  EXPECT_EQ(std::tie(config.threads, config.read_timeout_seconds, config.idle_timeout_seconds,
                     config.session_timeout_minutes),
            std::make_tuple(4, 11, 5, 30));
  EXPECT_EQ(std::tie(config.max_header_bytes, config.max_body_bytes, config.max_body_memory_bytes,
                     config.max_connections, config.max_sessions, config.cache_max_bytes),
            std::make_tuple(8192u, 1048576u, 2097152u, 10u, 50u, 0u));
  EXPECT_TRUE(config.sessions_in_database);
  EXPECT_EQ(config.trusted_proxies, (std::vector<std::string>{"2001:db8::1", "10.0.0.2"}));
  const SiteTexts& texts = config.texts;
  EXPECT_EQ(std::tie(texts.site_label, texts.webmaster_email, texts.notice, texts.credit_text,
                     texts.credit_url, texts.url),
            std::make_tuple("工地", "a@b", "kept", "c", "x", "http://e"));
  // The properties pass as the file gives them; beyond int32 an integer becomes a double.
  ASSERT_EQ(config.pages.size(), 2u);
  for (const auto& [page, expected] : {std::pair{config.pages[0], "/news data 5 3000000000"},
                                       std::pair{config.pages[1], "/b log 7 2.5"}}) {
    EXPECT_EQ(page.path + " " + page.web_path.ToString() + " " + page.hot_news.ToString() + " " +
                  page.image_size.ToString(),
              expected);
  }
}

TEST(ConfigTest, NamesTheFileAndTheKeyInEveryErrorAndChangesNothing) {
  TempDir dir;
  ServerConfig config;
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"colour = 1", "unknown key colour"},
      {"[limits]\nmax_bodies = 1", "unknown key limits.max_bodies"},
      {"[[page]]\npath = \"/a\"\nhot = 1", "unknown key page[1].hot"},
      {"threads = \"4\"", "bad value for threads: expected an integer"},
      {"root = 3", "bad value for root: expected a string"},
      {"threads = 3\ntrusted_proxies = [\"10.0.0.300\"]",
       "bad value for trusted_proxies: \"10.0.0.300\" is not an IP address"},
      {"threads = -1", "bad value for threads: -1 is not between 0 and 1024"},
      {"threads = 3\n[limits]\nmax_body_memory_bytes = 1000",
       "bad value for limits.max_body_memory_bytes: less than limits.max_body_bytes, so that a "
       "body allowed alone could never fit"},
      {"[[page]]\npath = \"log\"", "bad value for page[1].path: must start with /"},
      {"[[page]]\npath = \"/a\"\n[[page]]\npath = \"/a\"",
       "bad value for page[2].path: \"/a\" is declared twice"},
      {"[[page]]\npath = \"/a\"\nhot_news = true",
       "bad value for page[1].hot_news: expected an integer, a number or a string"},
      {"site = 1", "bad value for site: expected a table"},
      {"[database]\nurl = \"/srv/logs.mdb\"",
       "bad value for database.url: must start with postgresql://"},
      {"[session]\nstore = \"redis\"",
       "bad value for session.store: expected \"memory\" or \"database\""},
      {"page = 1", "bad value for page: expected [[page]] tables"},
  };
  const std::string file = (dir.path() / "tessaly.toml").string() + ": ";
  for (const auto& [toml, message] : cases) {
    EXPECT_EQ(ErrorOf([&] { LoadConfigFile(dir.Write("tessaly.toml", toml).string(), config); }),
              file + std::string(message));
    EXPECT_EQ(config.threads, 0) << toml;
  }
  const auto parse_error = [&] {
    LoadConfigFile(dir.Write("bad.toml", "x = \"").string(), config);
  };
  EXPECT_TRUE(ErrorOf(parse_error).starts_with((dir.path() / "bad.toml").string() + ": line 1, "));
  EXPECT_THROW(LoadConfigFile((dir.path() / "missing.toml").string(), config), ConfigError);
}

TEST(ListenAddressTest, ReadsHostAndPortOrRefusesWithTheReason) {
  EXPECT_EQ(ParseListenAddress("127.0.0.1:8080").Url(), "http://127.0.0.1:8080");
  EXPECT_EQ(ParseListenAddress("[::1]:0").host, "::1");
  EXPECT_EQ(ParseListenAddress("[::1]:0").Url(), "http://[::1]:0");
  EXPECT_EQ(ParseListenAddress("localhost:65535").port, 65535);
  for (const std::string text : {"127.0.0.1", "127.0.0.1:", "127.0.0.1:99999", "127.0.0.1:http",
                                 "127.0.0.1:-1", ":80", "[]:80"}) {
    const std::string error = ErrorOf([&] { ParseListenAddress(text); });
    EXPECT_TRUE(error.starts_with("bad listen address \"" + text + "\": ")) << error;
  }
}

}  // namespace
}  // namespace tessaly::server
