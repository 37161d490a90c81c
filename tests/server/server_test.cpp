// The server: its settings, which files a request path may serve and the includes a page
// expands, and the connections over a real loopback socket.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <tuple>

#include "base/errors.h"
#include "server/body_budget.h"
#include "server/config.h"
#include "server/connection_table.h"
#include "server/file_texts.h"
#include "server/includes.h"
#include "server/listen_address.h"
#include "server/slow_pages.h"
#include "server/static_files.h"
#include "server/web_server.h"
#include "support/error_of.h"
#include "support/http_client.h"
#include "support/temp_dir.h"

namespace tessaly::server {
namespace {

// The message of the ConfigError that `f` throws; "" when it throws none.
template <typename F>
std::string ErrorOf(F f) {
  return support::ErrorOf<ConfigError>(f);
}

TEST(ConfigTest, ReadsEveryKeyAndKeepsTheOthers) {
  support::TempDir dir;
  const auto file = dir.Write("tessaly.toml", R"(
root = "/srv/site"
listen = "0.0.0.0:80"
threads = 4
access_log = "/var/log/tessaly.log"
access_log_format = "json"
metrics = { path = "/internal/metrics", allow = ["10.0.0.9", "::FFFF:127.0.0.1"] }
trusted_proxies = ["2001:DB8::1", "::ffff:10.0.0.2"]
database = { url = "postgresql://web@db.internal/site" }
session = { timeout_minutes = 30, store = "database" }
cache = { max_bytes = 0, public_cache_control = "max-age=0, s-maxage=1" }
health = { path = "/up", drain_seconds = 0 }
site = { label = "工地", webmaster_email = "a@b", credit_text = "c", credit_url = "x", url = "http://e/" }
page = [{ path = "/news", web_path = "data", hot_news = 5, image_size = 3000000000 },
        { path = "/b", hot_news = "7", image_size = 2.5 }]
[limits]
max_header_bytes = 8192
max_body_bytes = 1048576
max_body_memory_bytes = 2097152
max_connections = 10
max_connections_per_address = 4
max_includes = 7
max_include_bytes = 4096
read_timeout_seconds = 11
idle_timeout_seconds = 5
max_sessions = 50
max_searches = 3
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
                     config.max_connections, config.max_sessions, config.cache_max_bytes,
                     config.max_searches),
            std::make_tuple(8192u, 1048576u, 2097152u, 10u, 50u, 0u, 3u));
  EXPECT_EQ(
      std::tie(config.max_connections_per_address, config.max_includes, config.max_include_bytes),
      std::make_tuple(4u, 7u, 4096u));
  EXPECT_TRUE(config.sessions_in_database);
  EXPECT_EQ(config.public_cache_control, "max-age=0, s-maxage=1");
  EXPECT_TRUE(config.access_log_json);
  EXPECT_EQ(std::tie(config.health_path, config.drain_seconds), std::make_tuple("/up", 0));
  EXPECT_EQ(config.metrics_path, "/internal/metrics");
  EXPECT_EQ(config.metrics_allow, (std::vector<std::string>{"10.0.0.9", "127.0.0.1"}));
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
  support::TempDir dir;
  ServerConfig config;
  EXPECT_EQ(std::tie(config.health_path, config.drain_seconds), std::make_tuple("/healthz", 5));
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"colour = 1", "unknown key colour"},
      {"[[page]]\npath = \"/a\"\nhot = 1", "unknown key page[1].hot"},
      {"threads = \"4\"", "bad value for threads: expected an integer"},
      {"threads = 3\ntrusted_proxies = [\"10.0.0.300\"]",
       "bad value for trusted_proxies: \"10.0.0.300\" is not an IP address"},
      {"threads = -1", "bad value for threads: -1 is not between 0 and 1024"},
      {"[cache]\npublic_cache_control = \"max-age=1\\r\\nX: 1\"",
       "bad value for cache.public_cache_control: expected Cache-Control directives in "
       "printable ASCII"},
      {"threads = 3\n[limits]\nmax_body_memory_bytes = 1000",
       "bad value for limits.max_body_memory_bytes: less than limits.max_body_bytes, so that a "
       "body allowed alone could never fit"},
      {"[[page]]\npath = \"/a\"\n[[page]]\npath = \"/a\"",
       "bad value for page[2].path: \"/a\" is declared twice"},
      {"[database]\nurl = \"/srv/logs.mdb\"",
       "bad value for database.url: must start with postgresql://"},
      {"[session]\nstore = \"redis\"",
       "bad value for session.store: expected \"memory\" or \"database\""},
      {"access_log_format = \"csv\"",
       "bad value for access_log_format: expected \"text\" or \"json\""},
      {"[metrics]\npath = \"metrics\"",
       "bad value for metrics.path: must start with / (or be empty: no metrics)"},
      {"[metrics]\nallow = [\"localhost\"]",
       "bad value for metrics.allow: \"localhost\" is not an IP address"},
      {"[health]\npath = \"up\"", "bad value for health.path: must start with /"},
      {"[health]\npath = \"/up?x\"", "bad value for health.path: must not contain ?, #, % or \\"},
      {"[health]\ndrain_seconds = 3601",
       "bad value for health.drain_seconds: 3601 is not between 0 and 3600"},
      {"[health]\npath = \"/p\"\n[[page]]\npath = \"/p\"",
       "bad value for health.path: \"/p\" is a page's path"},
  };
  const std::string file = (dir.path() / "tessaly.toml").string() + ": ";
  for (const auto& [toml, message] : cases) {
    EXPECT_EQ(ErrorOf([&] { LoadConfigFile(dir.Write("tessaly.toml", toml).string(), config); }),
              file + std::string(message));
    EXPECT_EQ(config.threads, 0) << toml;
  }
  const std::string bad = dir.Write("bad.toml", "x = \"").string();
  EXPECT_TRUE(ErrorOf([&] { LoadConfigFile(bad, config); }).starts_with(bad + ": line 1, "));
  EXPECT_THROW(LoadConfigFile((dir.path() / "missing.toml").string(), config), ConfigError);
}

TEST(ListenAddressTest, ReadsHostAndPortOrRefusesWithTheReason) {
  EXPECT_EQ(ParseListenAddress("127.0.0.1:8080").Url(), "http://127.0.0.1:8080");
  EXPECT_EQ(ParseListenAddress("[::1]:0").Url(), "http://[::1]:0");
  EXPECT_EQ(ParseListenAddress("localhost:65535").port, 65535);
  for (const std::string text : {"127.0.0.1", "127.0.0.1:", "127.0.0.1:99999", "127.0.0.1:http",
                                 "127.0.0.1:-1", ":80", "[]:80"}) {
    const std::string error = ErrorOf([&] { ParseListenAddress(text); });
    EXPECT_TRUE(error.starts_with("bad listen address \"" + text + "\": ")) << error;
  }
}

namespace fs = std::filesystem;

// The database, copies of it under any name that starts with its file name, and the journals of
// any database.
constexpr const char* kDatabaseFiles[] = {
    "/log/logs.mdb",   "/log/logs.mdb.bak", "/log/logs.mdb~", "/log/LOGS.MDB.old",
    "/log/Logs.Mdb.1", "/log/logs.MDB-wal", "/log/x.mdb-shm"};

class StaticFilesTest : public ::testing::Test {
 protected:
  StaticFilesTest() {
    for (const char* file : {"/index.html", "/a/b.css", "/a/.secret", "/empty/x.txt"}) {
      dir_.Write(std::string("site") + file, "x");
    }
    for (const char* file : kDatabaseFiles) dir_.Write(std::string("site") + file, "db");
    // Outside: a folder whose name is as long as the root's, and one that extends it.
    for (const char* file : {"nope/x.txt", "site2/x.txt"}) dir_.Write(file, "no");
    fs::create_symlink(dir_.path() / "nope/x.txt", site_ / "escape.txt");
    fs::create_symlink(dir_.path() / "site2/x.txt", site_ / "escape2.txt");
    fs::create_symlink(site_ / "log/logs.mdb", site_ / "innocent.txt");
    fs::create_symlink(site_ / "a/b.css", site_ / "alias.css");
    root_ = fs::canonical(site_);
  }

  std::optional<fs::path> Resolve(std::string_view path) {
    auto file = paths_.Resolve(root_, path);
    return file ? std::optional<fs::path>(file->path) : std::nullopt;
  }

  support::TempDir dir_;
  fs::path site_ = dir_.path() / "site";
  fs::path root_;
  StaticPaths paths_;
  FileTexts texts_;
};

TEST_F(StaticFilesTest, ServesOnlyFilesInsideTheRootThatMayBeServed) {
  EXPECT_EQ(Resolve("/a//b.css"), root_ / "a/b.css");
  EXPECT_EQ(Resolve("/"), root_ / "index.html");
  EXPECT_EQ(Resolve("/alias.css"), root_ / "a/b.css");  // a link that stays inside

  for (const char* path : {"/../nope/x.txt", "/a/../index.html", "/./index.html", "/a/.secret",
                           "/escape.txt", "/escape2.txt", "/innocent.txt", "/empty", "/empty/",
                           "/missing", "/a\\b.css", "", "a/b.css"}) {
    EXPECT_FALSE(Resolve(path)) << path;
  }
  for (const char* path : kDatabaseFiles) EXPECT_FALSE(Resolve(path)) << path;
  EXPECT_FALSE(Resolve(std::string_view("/index.html\0x", 13)));
  // A path that looks absolute after its first slash stays under the root.
  EXPECT_FALSE(Resolve("/" + root_.string() + "/index.html"));
}

// A database copied under any name: its first bytes tell, at resolution and at every change.
TEST_F(StaticFilesTest, AFileThatStartsAsADatabaseIsNeverServed) {
  const std::string header(kDatabaseHeader);
  for (const char* file : {"log/backup-2026.db", "logs.sqlite3", "copy-of-logs.mdb.gz", "x.txt"}) {
    dir_.Write(std::string("site/") + file, header + "rest of the file");
    EXPECT_FALSE(Resolve(std::string("/") + file)) << file;
  }
  dir_.Write("site/big.bin", header + std::string(kMaxKeptFileBytes, 'x'));
  EXPECT_FALSE(Resolve("/big.bin"));
  // Only the whole header counts.
  dir_.Write("site/short.txt", header.substr(0, 15));
  EXPECT_EQ(Resolve("/short.txt"), root_ / "short.txt");

  // Overwritten while its resolution is kept, or replaced by a rename: refused at once.
  dir_.Write("site/a/page.txt", "page");
  EXPECT_EQ(Resolve("/a/page.txt"), root_ / "a/page.txt");
  dir_.Write("site/a/page.txt", header);
  EXPECT_FALSE(Resolve("/a/page.txt"));
  dir_.Write("site/a/page.txt", "page again");
  EXPECT_EQ(Resolve("/a/page.txt"), root_ / "a/page.txt");
  dir_.Write("site/a/next.txt", header);
  fs::rename(site_ / "a/next.txt", site_ / "a/page.txt");
  EXPECT_FALSE(Resolve("/a/page.txt"));

  // A text read after it was resolved is checked too, when it is another version.
  dir_.Write("site/a/late.txt", "late");
  const auto resolved = paths_.Resolve(root_, "/a/late.txt");
  ASSERT_TRUE(resolved);
  dir_.Write("site/a/other.txt", header + "x");
  fs::rename(site_ / "a/other.txt", site_ / "a/late.txt");
  EXPECT_EQ(texts_.Text(*resolved), nullptr);

  for (const char* name : {"/log/logs.mdb", "/x/.y/z.db", "/.backup", "/a/b.MDB-journal"}) {
    EXPECT_TRUE(IsNeverServedName(name)) << name;
  }
  for (const char* name : {"/log/backup.db", "/logs.sqlite3", "/a/b.mdb.gz", "/x"}) {
    EXPECT_FALSE(IsNeverServedName(name)) << name;
  }
}

// Files and resolutions are kept between requests; neither may outlive what is on the disk.
TEST_F(StaticFilesTest, WhatIsKeptFollowsTheDisk) {
  const fs::path file = site_ / "a/page.txt";
  const auto an_hour_ago = fs::file_time_type::clock::now() - std::chrono::hours(1);
  auto text_now = [&] {
    const auto resolved = paths_.Resolve(root_, "/a/page.txt");
    const auto text = resolved ? texts_.Text(*resolved) : nullptr;
    return text ? *text : std::string("none");
  };
  dir_.Write("site/a/page.txt", "old!");
  fs::last_write_time(file, an_hour_ago);
  EXPECT_EQ(text_now(), "old!");
  // Rewritten in place with the same size and modification time: its change time tells.
  dir_.Write("site/a/page.txt", "new!");
  fs::last_write_time(file, an_hour_ago);
  EXPECT_EQ(text_now(), "new!");
  // Replaced by a link that leads outside while its resolution is kept: refused at once.
  fs::remove(file);
  fs::create_symlink(dir_.path() / "nope/x.txt", file);
  EXPECT_EQ(text_now(), "none");
}

TEST(IncludesTest, TargetsStayOnTheSite) {
  auto path = [](std::string_view target) {
    auto resolved = ResolveInclude("/a/b.shtml", target);
    return resolved ? resolved->path + "?" + resolved->query : std::string("refused");
  };
  EXPECT_EQ(path("../log/%62oard?x=%41"), "/log/board?x=%41");
  EXPECT_EQ(path("./c/./d/"), "/a/c/d/?");
  for (const char* bad : {"http://evil/x", "//evil/x", "javascript:alert(1)", "/../etc/passwd",
                          "../../x", "/a%zz", "/a\\b", "/a%00b", ""}) {
    EXPECT_EQ(path(bad), "refused") << bad;
  }
}

// A site of pages for the includes to fetch: a page whose name ends in ".shtml" is expanded in
// turn, under its own name; the fetches are counted.
struct IncludeSite {
  std::map<std::string, std::string> pages;
  int fetches = 0;

  std::string Expand(const std::string& path, IncludeLimits limits = {100, 1 << 20}) {
    return ExpandIncludes(pages[path], path, limits, [this](const IncludeTarget& target) {
      ++fetches;
      const auto it = pages.find(target.path);
      if (it == pages.end()) return Fetched{false, "not found"};
      if (!target.path.ends_with(".shtml")) return Fetched{true, it->second};
      return Fetched{true, it->second, target.path};
    });
  }
};

std::string Include(const std::string& target) {
  return "<!--#include virtual=\"" + target + "\" -->";
}

TEST(IncludesTest, ExpandsNoDeeperThanTheLimitAndNeverLoops) {
  // /1.shtml writes "1" and includes /2.shtml, which writes "2" and includes /3.shtml, and so on.
  IncludeSite site;
  site.pages["/block"] = "[block]";
  for (int i = 1; i < 9; ++i) {
    site.pages["/" + std::to_string(i) + ".shtml"] =
        std::to_string(i) + Include("/" + std::to_string(i + 1) + ".shtml");
  }
  EXPECT_EQ(site.Expand("/1.shtml"), "12345<!-- include failed: nested too deep -->");
  // /x.shtml, included by /outer.shtml: neither may be included again, and what is not an
  // include of ours passes as it is.
  site.pages["/outer.shtml"] = "(" + Include("x.shtml") + ")";
  site.pages["/x.shtml"] = Include("/block") + "a" + Include("/x.shtml") + "b" +
                           Include("/outer.shtml") + "c<!--#include file=\"/block\" -->d" +
                           Include("/nosuch") + "<!-- plain -->";
  EXPECT_EQ(site.Expand("/outer.shtml"),
            "([block]a<!-- include failed: includes itself -->"
            "b<!-- include failed: includes itself -->c<!--#include file=\"/block\" -->"
            "d<!-- include failed: not found --><!-- plain -->)");
}

// Four levels of pages, each including the next 20 times, end at a kilobyte: 160,000 includes
// and 160 MB unbounded. The limits cut the fetches and the answer short, in page order.
TEST(IncludesTest, APageBringsInNoMoreThanItsLimits) {
  IncludeSite site;
  site.pages["/leaf.html"] = std::string(1000, 'x');
  for (int level = 0; level < 4; ++level) {
    std::string page;
    const std::string next = level == 3 ? "/leaf.html" : "/" + std::to_string(level + 1) + ".shtml";
    for (int i = 0; i < 20; ++i) page += Include(next);
    site.pages["/" + std::to_string(level) + ".shtml"] = page;
  }
  const auto count = [](const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + what.size())) {
      ++n;
    }
    return n;
  };
  const std::string leaf(1000, 'x');
  // 100 fetches: /1 and /2, then four times /3 and its 20 leaves, then /3 and 13 leaves; the
  // rest of that /3, of /2, of /1 and of the page fail.
  std::string page = site.Expand("/0.shtml", {100, 1 << 30});
  EXPECT_EQ(site.fetches, 100);
  EXPECT_EQ(count(page, leaf), 93u);
  EXPECT_EQ(count(page, "<!-- include failed: too many includes -->"), 7u + 15 + 19 + 19);
  // 10,000 bytes: /1, /2 and /3 (2,140 bytes), then 7 leaves; the eighth is fetched and dropped.
  site.fetches = 0;
  page = site.Expand("/0.shtml", {1000, 10'000});
  EXPECT_EQ(site.fetches, 11);
  EXPECT_EQ(count(page, leaf), 7u);
  EXPECT_EQ(count(page, "<!-- include failed: too large -->"), 13u + 19 + 19 + 19);
  EXPECT_LT(page.size(), 10'000u + 20 * 4 * 40);
}

using tessaly::support::HttpConnection;
using tessaly::support::HttpResponse;
using namespace std::chrono_literals;

// "METHOD TARGET" with a Host, the head lines `headers`, then `body` as it is.
std::string Request(const std::string& method_target, const std::string& headers = "",
                    const std::string& body = "") {
  return method_target + " HTTP/1.1\r\nHost: x\r\n" + headers + "\r\n" + body;
}

class WebServerTest : public ::testing::Test {
 protected:
  WebServerTest() {
    dir_.Write("site/style.css", "body{}");
    config_.root = (dir_.path() / "site").string();
    config_.listen = "127.0.0.1:0";
    config_.threads = 2;
    config_.max_header_bytes = 2048;
    config_.max_body_bytes = 1024;
  }
  ~WebServerTest() override { StopServer(); }

  // Serves `handler`; by default a page that writes the request item "a".
  void Start(PageHandler handler = [](host::ScriptingContext& context, const PageConfig&) {
    context.response.Write("a=" + context.request.Item("a") + "\n");
  }) {
    server_ = std::make_unique<WebServer>(config_, std::move(handler));
    Serve();
  }
  // Requests with "slow" in their query run on the slow-page threads.
  void StartWithSlowPages(PageHandler handler) {
    server_ = std::make_unique<WebServer>(config_, [handler](boost::asio::io_context&) {
      return LoopPages{.gate = {}, .handler = handler, .slow = [](std::string_view query) {
                         return query.find("slow") != std::string_view::npos;
                       }};
    });
    Serve();
  }
  void Serve() {
    server_->Listen();
    const std::string url = server_->Url();
    port_ = std::stoi(url.substr(url.rfind(':') + 1));
    thread_ = std::thread([this] { server_->Run(); });
  }

  void StopServer() {
    if (!server_) return;
    server_->Stop();
    thread_.join();
    server_.reset();
  }

  support::TempDir dir_;
  ServerConfig config_;
  std::unique_ptr<WebServer> server_;
  std::thread thread_;
  int port_ = 0;
};

// A target in absolute form is served as its path and query, for its host whatever Host says.
TEST_F(WebServerTest, PagesAreMatchedExactlyAndCarryTheirSettings) {
  config_.pages = {{.path = "/a", .web_path = "first"}, {.path = "/b/page", .web_path = "second"}};
  Start([](host::ScriptingContext& context, const PageConfig& page) {
    context.response.Write(page.web_path.ToString());
    for (const char* name :
         {"URL", "REMOTE_ADDR", "SERVER_PORT", "SERVER_NAME", "QUERY_STRING", "HTTP_HOST"}) {
      context.response.Write(" " + context.request.ServerVariable(name));
    }
  });
  HttpConnection client(port_);
  const auto ask = [&](const std::string& request) {
    client.Send(request);
    return client.Read();
  };
  const std::string connection = " 127.0.0.1 " + std::to_string(port_);
  EXPECT_EQ(ask(Request("GET /a")).body, "first /a" + connection + " x  x");
  EXPECT_EQ(ask(Request("GET /b/%70age?x")).body, "second /b/page" + connection + " x x x");
  EXPECT_EQ(ask("GET http://example.org:8080/b/%70age?a=1 HTTP/1.1\r\nHost: other\r\n\r\n").body,
            "second /b/page" + connection + " example.org a=1 example.org:8080");
  EXPECT_EQ(ask("GET HTTPS://example.org/style.css HTTP/1.1\r\nHost: example.org\r\n\r\n").body,
            "body{}");
  EXPECT_EQ(ask(Request("GET /A")).status, 404);
  EXPECT_EQ(ask(Request("GET /log/board")).status, 404);
  EXPECT_EQ(ask("GET http://h?b=2 HTTP/1.0\r\n\r\n").status, 404);  // the path "/": no index
  // A root that is no folder is refused before anything is served.
  ServerConfig file_as_root = config_;
  file_as_root.root += "/style.css";
  EXPECT_THROW(WebServer(file_as_root, PageHandler()).Listen(), ConfigError);
}

// What a file's answer holds is the site's (site_test.cpp); here, how answers travel.
TEST_F(WebServerTest, SendsLargeFilesInPiecesAndPipelinedAnswersInTurn) {
  std::string large(kMaxKeptFileBytes + 100 * 1024, 'x');  // sent from the disk
  for (std::size_t i = 0; i < large.size(); i += 1000) large[i] = static_cast<char>('a' + i % 26);
  dir_.Write("site/large.bin", large);
  Start();
  HttpConnection client(port_);
  client.Send(Request("GET /style.css?v=1"));
  const HttpResponse css = client.Read();
  EXPECT_EQ(css.body, "body{}");
  client.Send(Request("GET /large.bin"));
  HttpResponse reply = client.Read();
  EXPECT_EQ(reply.body, large);

  // Pipelined on the kept connection: a 304 for the date the client has, a HEAD of the large
  // file that sends its head alone, and a last request that closes.
  client.Send(
      Request("GET /style.css", "If-Modified-Since: " + css.Header("Last-Modified") + "\r\n") +
      Request("HEAD /large.bin") + Request("GET /missing", "Connection: close\r\n"));
  EXPECT_EQ(client.Read().status, 304);
  reply = client.Read(true);
  EXPECT_EQ(reply.Header("Content-Length"), std::to_string(large.size()));
  reply = client.Read();
  EXPECT_EQ(reply.status, 404);
  EXPECT_EQ(reply.Header("Connection"), "close");
  EXPECT_TRUE(client.ClosedByPeer());
}

TEST_F(WebServerTest, RefusesBadRequestsWithAClearStatus) {
  Start();
  const std::string chunked = "Transfer-Encoding: chunked\r\n";
  const std::string kilobyte_chunk = "3e8\r\n" + std::string(1000, 'c') + "\r\n";
  const struct {
    std::string request;
    int status;
    bool closes;
  } cases[] = {
      {Request("GET /log/board?a=%zz"), 400, false},
      {Request("GET /style%2.css"), 400, false},
      {Request("POST /log/board",
               "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 5\r\n", "a=%g1"),
       400, false},
      {Request("DELETE /log/board"), 405, true},
      {Request("GET /log/board", "Content-Length: 1025\r\n"), 413, true},
      {Request("POST /log/board", chunked, kilobyte_chunk + kilobyte_chunk + "0\r\n\r\n"), 413,
       true},
      {Request("GET /x", "X-Big: " + std::string(3000, 'b') + "\r\n"), 431, true},
      {Request("GET /x", "Bad Header\r\n"), 400, true},
      // Framing that a proxy may read otherwise: the "body" must not become a second request.
      {Request("POST /log/board", "Transfer-Encoding: gzip\r\n", Request("GET /")), 400, true},
      {Request("POST /log/board", chunked + "Transfer-Encoding: gzip\r\n",
               "0\r\n\r\n" + Request("GET /")),
       400, true},
      {"GET /style.css HTTP/1.1\r\n\r\n", 400, true},
      {Request("GET /style.css", "Host: b\r\n"), 400, true},
      {Request("GET http"), 400, true},
      {"GET http://x/style.css HTTP/1.1\r\n\r\n", 400, true},  // Host is still required
      // A coding under the chunks is not implemented; chunked twice is not allowed.
      {Request("POST /log/board", "Transfer-Encoding: gzip, chunked\r\n", "0\r\n\r\n"), 501, true},
      {Request("POST /log/board", "Transfer-Encoding: GZIP\r\n" + chunked, "0\r\n\r\n"), 501, true},
      {Request("POST /log/board", "Transfer-Encoding: chunked, chunked\r\n", "0\r\n\r\n"), 400,
       true},
      {"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 400, true},
      // A body is read only for a page: anything else is answered from the head, and the
      // connection closes since the body was never read.
      {Request("POST /style.css", "Content-Length: 500\r\n"), 405, true},
      {Request("GET /missing", "Content-Length: 500\r\n"), 404, true},
      {Request("POST /x", chunked), 405, true},
  };
  for (const auto& c : cases) {
    HttpConnection client(port_);
    client.Send(c.request);
    const HttpResponse reply = client.Read();
    EXPECT_EQ(reply.status, c.status) << c.request.substr(0, 60);
    if (c.status == 405) {
      EXPECT_EQ(reply.Header("Allow"),
                c.request.starts_with("DELETE") ? "GET, HEAD, POST" : "GET, HEAD");
    }
    if (c.closes) {
      EXPECT_EQ(reply.Header("Connection"), "close");
      EXPECT_TRUE(client.ClosedByPeer()) << c.request.substr(0, 60);
    } else {
      client.Send(Request("GET /style.css"));
      EXPECT_EQ(client.Read().status, 200);
    }
  }
}

// Each reservation holds what its body may grow to, and gives it back when it goes.
TEST(BodyBudgetTest, ReservationsShareTheLimitAndGiveBackWhenDone) {
  BodyBudget budget(100);
  BodyReservation first;
  EXPECT_TRUE(first.GrowTo(budget, 60));
  EXPECT_TRUE(first.GrowTo(budget, 40));  // holds what it held
  {
    BodyReservation second;
    EXPECT_FALSE(second.GrowTo(budget, 50));
    EXPECT_TRUE(second.GrowTo(budget, 40));
    EXPECT_FALSE(first.GrowTo(budget, 61));
    EXPECT_EQ(budget.in_use(), 100u);
  }
  EXPECT_EQ(budget.in_use(), 60u);
}

// Connections are admitted as the table decides; the owners stand for the connections.
TEST(ConnectionTableTest, EachAddressHasItsShareAndAtTheCapTheLongestWaitingGoes) {
  ConnectionTable table(4, 2);
  std::vector<std::shared_ptr<int>> owners;
  const auto admit = [&](const std::string& group) {
    owners.push_back(std::make_shared<int>(static_cast<int>(owners.size())));
    return table.Admit(owners.back(), group);
  };
  const auto evicted = [](const ConnectionTable::Admission& admission) {
    const auto owner = std::static_pointer_cast<int>(admission.evict.lock());
    return owner ? *owner : -1;
  };
  // An address holds at most its share; a trusted proxy (no group) is not limited.
  const auto a0 = admit("a"), a1 = admit("a");
  EXPECT_FALSE(admit("a").handle);
  EXPECT_TRUE(a0.handle && a1.handle);
  table.Remove(*a0.handle);
  const auto a3 = admit("a"), p4 = admit(""), p5 = admit("");
  EXPECT_EQ(table.size(), 4u);
  for (const auto* admission : {&a3, &p4, &p5}) EXPECT_EQ(evicted(*admission), -1);
  // At the cap: a1 has waited longest (since its admission), so it goes.
  const auto p6 = admit("");
  EXPECT_EQ(evicted(p6), 1);
  EXPECT_EQ(table.size(), 5u);           // until its close removes it
  EXPECT_FALSE(table.Busy(*a1.handle));  // it must close, even if its head came
  EXPECT_FALSE(admit("a").handle);       // and holds its share until then
  table.Remove(*a1.handle);
  // Those at work are never chosen; one that waits again after an answer is the last in line.
  EXPECT_TRUE(table.Busy(*a3.handle));
  EXPECT_TRUE(table.Busy(*p4.handle));
  table.Waiting(*p4.handle);
  const auto b8 = admit("b");
  EXPECT_EQ(evicted(b8), 5);
  table.Remove(*p5.handle);
  EXPECT_TRUE(table.Busy(*b8.handle));
  const auto b9 = admit("b");
  EXPECT_EQ(evicted(b9), 6);
  table.Remove(*p6.handle);
  EXPECT_TRUE(table.Busy(*b9.handle));
  EXPECT_FALSE(table.Full());  // p4 waits
  const auto c10 = admit("c");
  EXPECT_EQ(evicted(c10), 4);
  table.Remove(*p4.handle);
  EXPECT_TRUE(table.Busy(*c10.handle));
  EXPECT_TRUE(table.Full());  // all at work: a new connection would pass the cap
  table.Waiting(*b8.handle);
  EXPECT_FALSE(table.Full());
  EXPECT_EQ(table.Owners().size(), 4u);
}

// Bodies being read share one budget: one that would pass it is refused at once, with a hint
// to come back, and the budget is whole again when the requests are done.
TEST_F(WebServerTest, BodiesInFlightShareOneMemoryBudget) {
  config_.max_body_memory_bytes = 1500;
  Start([](host::ScriptingContext& context, const PageConfig&) {
    context.response.Write(std::to_string(context.request.TotalBytes()));
  });
  const std::string head =
      Request("POST /log/board", "Content-Length: 1000\r\nExpect: 100-continue\r\n");
  HttpConnection first(port_), second(port_), third(port_);
  first.Send(head);
  ASSERT_EQ(first.Read().status, 100);  // its 1000 bytes are reserved
  second.Send(head);
  const HttpResponse refused = second.Read();
  EXPECT_EQ(refused.status, 503);
  EXPECT_EQ(refused.Header("Retry-After"), "1");
  EXPECT_TRUE(second.ClosedByPeer());

  first.Send(std::string(1000, 'a'));
  EXPECT_EQ(first.Read().body, "1000");
  third.Send(head);
  EXPECT_EQ(third.Read().status, 100);
  third.Send(std::string(1000, 'b'));
  EXPECT_EQ(third.Read().body, "1000");
}

// At the cap a new client is answered at once: it takes the place of the connection that has
// waited longest for a request (here half a head, then one kept after its answer), never of one
// at work (reading a body). When all are at work it waits in the kernel's queue until one
// waits for a request again.
TEST_F(WebServerTest, AtTheCapANewClientTakesThePlaceOfTheLongestWaiting) {
  config_.max_connections = 3;
  Start();
  const std::string post_head =
      Request("POST /log/board",
              "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 3\r\n"
              "Expect: 100-continue\r\n");
  HttpConnection body(port_), slow(port_), kept(port_);
  body.Send(post_head);
  ASSERT_EQ(body.Read().status, 100);  // its head is in: at work
  slow.Send("GET /log/board HTTP/1.1\r\nHost:");
  kept.Send(Request("GET /log/board?a=2"));
  EXPECT_EQ(kept.Read().body, "a=2\n");
  HttpConnection third(port_);
  third.Send(Request("GET /log/board?a=3"));
  EXPECT_EQ(third.Read().body, "a=3\n");
  EXPECT_TRUE(slow.ClosedByPeer());
  HttpConnection fourth(port_);
  fourth.Send(Request("GET /log/board?a=4"));
  EXPECT_EQ(fourth.Read().body, "a=4\n");
  EXPECT_TRUE(kept.ClosedByPeer());
  body.Send("a=1");
  EXPECT_EQ(body.Read().body, "a=1\n");

  for (HttpConnection* busy : {&third, &fourth, &body}) {
    busy->Send(post_head);
    ASSERT_EQ(busy->Read().status, 100);
  }
  HttpConnection fifth(port_);
  fifth.Send(Request("GET /log/board?a=5"));
  EXPECT_FALSE(fifth.Readable(300));
  third.Send("a=3");
  EXPECT_EQ(third.Read().body, "a=3\n");
  EXPECT_EQ(fifth.Read().body, "a=5\n");
  EXPECT_TRUE(third.ClosedByPeer());
}

// An address beyond its share of connections is answered 503 at once; a trusted proxy, which
// speaks for many clients, has no share.
TEST_F(WebServerTest, AnAddressHoldsItsShareUnlessItIsATrustedProxy) {
  config_.max_connections_per_address = 2;
  for (const bool proxy : {false, true}) {
    if (proxy) config_.trusted_proxies = {"127.0.0.1"};
    Start();
    HttpConnection first(port_), second(port_), third(port_);
    if (!proxy) {
      const HttpResponse refused = third.Read();
      EXPECT_EQ(refused.status, 503);
      EXPECT_EQ(refused.Header("Retry-After"), "1");
      EXPECT_TRUE(third.ClosedByPeer());
    }
    for (HttpConnection* client :
         proxy ? std::vector{&first, &second, &third} : std::vector{&first, &second}) {
      client->Send(Request("GET /log/board?a=1"));
      EXPECT_EQ(client->Read().body, "a=1\n");
    }
    StopServer();
  }
}

// Connections take the threads in turn, so that a held-up page holds up its own thread only.
// Stopping closes at once what is idle, after a moment what is still arriving (half a head,
// half a body), and lets the answer being made go out first.
TEST_F(WebServerTest, AHeldUpPageHoldsOneThreadAndStopLetsItFinish) {
  config_.threads = 3;       // the held page alone on the second
  std::atomic<int> held{0};  // 1 while held, 2 once let go
  std::atomic<bool> release{false};
  Start([&](host::ScriptingContext& context, const PageConfig&) {
    if (context.request.Item("hold") == "1") {
      held = 1;
      for (int i = 0; i < 1000 && !release; ++i) std::this_thread::sleep_for(5ms);
      held = 2;
    }
    context.response.Write("done");
  });
  HttpConnection idle(port_), busy(port_), half_head(port_), half_body(port_);
  busy.Send(Request("GET /log/board?hold=1"));
  while (held == 0) std::this_thread::sleep_for(5ms);
  idle.Send(Request("GET /log/board"));
  EXPECT_EQ(idle.Read().body, "done");
  EXPECT_EQ(held, 1);
  half_head.Send("GET /log/board HTTP/1.1\r\nHost:");
  half_body.Send(Request("POST /log/board", "Content-Length: 3\r\n", "a="));

  const auto started = std::chrono::steady_clock::now();
  server_->Stop();
  release = true;
  StopServer();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  const HttpResponse answered = busy.Read();
  EXPECT_EQ(answered.body, "done");
  EXPECT_EQ(answered.Header("Connection"), "close");
  for (HttpConnection* client : {&idle, &half_head, &half_body})
    EXPECT_TRUE(client->ClosedByPeer());
}

// A slow page runs apart from the loop that read it: the loop answers others meanwhile.
TEST_F(WebServerTest, ASlowPageRunsApartFromItsLoop) {
  config_.threads = 1;
  std::atomic<bool> held{false}, release{false};
  StartWithSlowPages([&](host::ScriptingContext& context, const PageConfig&) {
    held = true;
    while (context.request.Item("hold") == "1" && !release) std::this_thread::sleep_for(5ms);
    context.response.Write("done");
  });
  HttpConnection slow(port_), other(port_);
  slow.Send(Request("GET /log/board?slow&hold=1"));
  while (!held) std::this_thread::sleep_for(5ms);
  other.Send(Request("GET /log/board"));
  EXPECT_EQ(other.Read().body, "done");
  release = true;
  EXPECT_EQ(slow.Read().body, "done");
  StopServer();
}

// Beyond the bound a request is refused at once; one that waited too long runs as a refusal.
TEST(SlowPagesTest, WaitingIsBoundedInCountAndTime) {
  SlowPages slow(1, [](boost::asio::io_context&) { return LoopPages{}; });
  std::atomic<bool> running{false}, release{false};
  ASSERT_TRUE(slow.Post([&](LoopState* state) {
    EXPECT_NE(state, nullptr);
    running = true;
    while (!release) std::this_thread::sleep_for(5ms);
  }));
  while (!running) std::this_thread::sleep_for(5ms);
  std::atomic<int> refused{0};
  for (std::size_t i = 0; i < kMaxWaitingSlowPages; ++i) {
    ASSERT_TRUE(slow.Post([&](LoopState* state) { refused += state == nullptr; }));
  }
  EXPECT_FALSE(slow.Post([](LoopState*) { ADD_FAILURE() << "run beyond the bound"; }));
  std::this_thread::sleep_for(kSlowPageWait + 50ms);
  release = true;
  slow.Stop();
  EXPECT_EQ(refused, static_cast<int>(kMaxWaitingSlowPages));
}

// A client that connected just before the server stopped sends its request now: it is served,
// and the connection closed after it; one that was served before and sends nothing is closed.
TEST_F(WebServerTest, AConnectionNewWhenTheServerStopsIsServedItsFirstRequest) {
  Start();
  HttpConnection fresh(port_), kept(port_);
  kept.Send(Request("GET /log/board?a=0"));
  EXPECT_EQ(kept.Read().body, "a=0\n");
  std::this_thread::sleep_for(100ms);  // both accepted
  server_->Stop();
  std::this_thread::sleep_for(100ms);
  fresh.Send(Request("GET /log/board?a=1"));
  const HttpResponse answered = fresh.Read();
  EXPECT_EQ(answered.body, "a=1\n");
  EXPECT_EQ(answered.Header("Connection"), "close");
  EXPECT_TRUE(kept.ClosedByPeer());
  StopServer();
}

}  // namespace
}  // namespace tessaly::server
