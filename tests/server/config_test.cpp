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
  std::string file = (dir.path() / "tessaly.toml").string();
  EXPECT_EQ(LoadError(dir, "colour = 1"), file + ": unknown key colour");
  EXPECT_EQ(LoadError(dir, "[limits]\nmax_bodies = 1"), file + ": unknown key limits.max_bodies");
  EXPECT_EQ(LoadError(dir, "[[page]]\npath = \"/a\"\nhot = 1"), file + ": unknown key page[1].hot");
  EXPECT_EQ(LoadError(dir, "threads = \"4\""),
            file + ": bad value for threads: expected an integer");
  EXPECT_EQ(LoadError(dir, "root = 3"), file + ": bad value for root: expected a string");
  EXPECT_EQ(LoadError(dir, "threads = -1"),
            file + ": bad value for threads: -1 is not between 0 and 1024");
  EXPECT_EQ(LoadError(dir, "[limits]\nmax_body_memory_bytes = 1000"),
            file +
                ": bad value for limits.max_body_memory_bytes: less than limits.max_body_bytes, "
                "so that a body allowed alone could never fit");
  EXPECT_EQ(LoadError(dir, "[[page]]\npath = \"log\""),
            file + ": bad value for page[1].path: must start with /");
  EXPECT_EQ(LoadError(dir, "[[page]]\npath = \"/a\"\n[[page]]\npath = \"/a\""),
            file + ": bad value for page[2].path: \"/a\" is declared twice");
  EXPECT_EQ(LoadError(dir, "[[page]]\npath = \"/a\"\nhot_news = true"),
            file + ": bad value for page[1].hot_news: expected an integer, a number or a string");
  EXPECT_EQ(LoadError(dir, "site = 1"), file + ": bad value for site: expected a table");
  EXPECT_EQ(LoadError(dir, "[cache]\nmax_bytes = -1"),
            file + ": bad value for cache.max_bytes: -1 is not between 0 and 1099511627776");
  EXPECT_EQ(LoadError(dir, "[database]\nurl = \"/srv/logs.mdb\""),
            file + ": bad value for database.url: must start with postgresql://");
  EXPECT_EQ(LoadError(dir, "[session]\nstore = \"redis\""),
            file + ": bad value for session.store: expected \"memory\" or \"database\"");
  EXPECT_EQ(LoadError(dir, "page = 1"), file + ": bad value for page: expected [[page]] tables");
  EXPECT_NE(LoadError(dir, "root = \"x").find(file + ": line 1"), std::string::npos);

  ServerConfig config;
  EXPECT_THROW(LoadConfigFile((dir.path() / "missing.toml").string(), config), ConfigError);
}

TEST(ConfigTest, ABadFileLeavesTheSettingsAlone) {
  TempDir dir;
  auto file = dir.Write("tessaly.toml", "threads = 3\nlisten = 5");
  ServerConfig config;
  EXPECT_THROW(LoadConfigFile(file.string(), config), ConfigError);
  EXPECT_EQ(config.threads, 0);
}

}  // namespace
}  // namespace tessaly::server
