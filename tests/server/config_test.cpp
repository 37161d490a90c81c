#include "server/config.h"

#include <gtest/gtest.h>

#include "base/errors.h"
#include "support/temp_dir.h"

namespace tessaly::server {
namespace {

using tessaly::testing::TempDir;

std::string LoadError(const TempDir& dir, std::string_view toml) {
  auto file = dir.Write("tessaly.toml", toml);
  ServerConfig config;
  try {
    LoadConfigFile(file.string(), config);
  } catch (const ConfigError& error) {
    return error.what();
  }
  return "";
}

TEST(ConfigTest, ReadsEveryKeyAndKeepsTheOthers) {
  TempDir dir;
  auto file = dir.Write("tessaly.toml", R"(
root = "/srv/site"
listen = "0.0.0.0:80"
threads = 4
access_log = "/var/log/tessaly.log"

[limits]
max_header_bytes = 8192
max_body_bytes = 1048576
max_body_memory_bytes = 2097152
max_connections = 10
read_timeout_seconds = 10
idle_timeout_seconds = 5
max_sessions = 50

[database]
url = "postgresql://web@db.internal/site"

[session]
timeout_minutes = 30
store = "database"

[cache]
max_bytes = 0

[site]
label = "工地"
webmaster_email = "a@b.c"
notice = "n"
credit_text = "c"
credit_url = "https://x/"

[[page]]
path = "/news"
web_path = "data"
hot_news = 5
image_size = 3000000000

[[page]]
path = "/b"
hot_news = "7"
image_size = 2.5
)");
  ServerConfig config;
  config.threads = 9;
  LoadConfigFile(file.string(), config);
  EXPECT_EQ(config.root, "/srv/site");
  EXPECT_EQ(config.listen, "0.0.0.0:80");
  EXPECT_EQ(config.threads, 4);
  EXPECT_EQ(config.access_log, "/var/log/tessaly.log");
  EXPECT_EQ(config.max_header_bytes, 8192u);
  EXPECT_EQ(config.max_body_bytes, 1048576u);
  EXPECT_EQ(config.max_body_memory_bytes, 2097152u);
  EXPECT_EQ(config.max_connections, 10u);
  EXPECT_EQ(config.read_timeout_seconds, 10);
  EXPECT_EQ(config.idle_timeout_seconds, 5);
  EXPECT_EQ(config.max_sessions, 50u);
  EXPECT_EQ(config.session_timeout_minutes, 30);
  EXPECT_EQ(config.database_url, "postgresql://web@db.internal/site");
  EXPECT_TRUE(config.sessions_in_database);
  EXPECT_EQ(config.cache_max_bytes, 0u);
  EXPECT_EQ(config.texts.site_label, "工地");
  EXPECT_EQ(config.texts.credit_url, "https://x/");

  ASSERT_EQ(config.pages.size(), 2u);
  EXPECT_EQ(config.pages[0].path, "/news");
  EXPECT_EQ(config.pages[0].web_path.ToString(), "data");
  EXPECT_EQ(config.pages[0].hot_news.ToInt32(), 5);
  // Beyond int32 the integer becomes a double.
  EXPECT_EQ(config.pages[0].image_size.ToString(), host::Variant(3e9).ToString());
  EXPECT_EQ(config.pages[1].web_path.ToString(), "log");  // default kept
  EXPECT_EQ(config.pages[1].hot_news.ToString(), "7");
  EXPECT_EQ(config.pages[1].image_size.ToString(), "2.5");

  ServerConfig untouched;
  untouched.listen = "127.0.0.1:1";
  LoadConfigFile(dir.Write("empty.toml", "").string(), untouched);
  EXPECT_EQ(untouched.listen, "127.0.0.1:1");
  EXPECT_TRUE(untouched.pages.empty());
}

TEST(ConfigTest, NamesTheFileAndTheKeyInEveryError) {
  TempDir dir;
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"colour = 1", "unknown key colour"},
      {"[limits]\nmax_bodies = 1", "unknown key limits.max_bodies"},
      {"[[page]]\npath = \"/a\"\nhot = 1", "unknown key page[1].hot"},
      {"threads = \"4\"", "bad value for threads: expected an integer"},
      {"root = 3", "bad value for root: expected a string"},
      {"threads = -1", "bad value for threads: -1 is not between 0 and 1024"},
      {"[limits]\nmax_body_memory_bytes = 1000",
       "bad value for limits.max_body_memory_bytes: less than limits.max_body_bytes, so that a "
       "body allowed alone could never fit"},
      {"[[page]]\npath = \"log\"", "bad value for page[1].path: must start with /"},
      {"[[page]]\npath = \"/a\"\n[[page]]\npath = \"/a\"",
       "bad value for page[2].path: \"/a\" is declared twice"},
      {"[[page]]\npath = \"/a\"\nhot_news = true",
       "bad value for page[1].hot_news: expected an integer, a number or a string"},
      {"site = 1", "bad value for site: expected a table"},
      {"[cache]\nmax_bytes = -1",
       "bad value for cache.max_bytes: -1 is not between 0 and 1099511627776"},
      {"[database]\nurl = \"/srv/logs.mdb\"",
       "bad value for database.url: must start with postgresql://"},
      {"[session]\nstore = \"redis\"",
       "bad value for session.store: expected \"memory\" or \"database\""},
      {"page = 1", "bad value for page: expected [[page]] tables"},
  };
  const std::string file = (dir.path() / "tessaly.toml").string() + ": ";
  for (const auto& [toml, message] : cases) {
    EXPECT_EQ(LoadError(dir, toml), file + std::string(message)) << toml;
  }
  EXPECT_NE(LoadError(dir, "root = \"x").find(file + "line 1"), std::string::npos);

  // A missing file is an error too; a bad file leaves the settings alone.
  ServerConfig config;
  EXPECT_THROW(LoadConfigFile((dir.path() / "missing.toml").string(), config), ConfigError);
  EXPECT_THROW(LoadConfigFile(dir.Write("bad.toml", "threads = 3\nlisten = 5").string(), config),
               ConfigError);
  EXPECT_EQ(config.threads, 0);
}

}  // namespace
}  // namespace tessaly::server
