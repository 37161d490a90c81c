// deploy/nginx.conf in front of a running tessaly: pages, static files and includes come
// through byte for byte, the database stays refused, the visitor's address reaches tessaly,
// and nginx's own includes work as the alternative.
#include <gtest/gtest.h>

#include <regex>

#include "e2e/admin_loopback.h"
#include "e2e/harness.h"
#include "e2e/nginx.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

using testing::ReadFile;

// The deployed server block, pointed at this test's site and tessaly.
std::string DeployedBlock(const std::filesystem::path& site, int tessaly_port, int port,
                          bool own_includes) {
  std::string block = ReadFile(TESSALY_SOURCE_DIR "/deploy/nginx.conf");
  block = std::regex_replace(block, std::regex("127\\.0\\.0\\.1:8080"),
                             "127.0.0.1:" + std::to_string(tessaly_port));
  block = std::regex_replace(block, std::regex("listen 80;"),
                             "listen 127.0.0.1:" + std::to_string(port) + ";");
  block = std::regex_replace(block, std::regex("/var/lib/tessaly/site"), site.string());
  if (own_includes) {
    block = std::regex_replace(block,
                               std::regex("location ~\\* \\\\\\.shtml\\$ \\{\\n\\s*proxy_pass"
                                          " http://tessaly;\\n\\s*\\}"),
                               "location ~* \\.shtml$ { ssi on; }");
  }
  return block;
}

// nginx with the deployed server block in front of the site and tessaly.
class Deployed : public Nginx {
 public:
  Deployed(const std::filesystem::path& dir, const std::filesystem::path& site, int tessaly_port,
           bool own_includes)
      : Nginx(dir,
              [&](int port) { return DeployedBlock(site, tessaly_port, port, own_includes); }) {}
  HttpResponse Get(const std::string& target) {
    testing::HttpConnection c(port());
    // HTTP/1.0, so that nginx sends an included page whole rather than in chunks.
    c.Send("GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    return c.Read();
  }
};

TEST(NginxTest, DeployedConfigurationInFront) {
  if (system("command -v nginx >/dev/null") != 0) GTEST_SKIP() << "nginx is not installed";
  Site site;
  testing::FillEntries(site.database(), 30);
  std::ofstream(site.root() / "style.css") << "b{}";
  std::ofstream(site.root() / "index.shtml")
      << "<h1>home</h1><!--#include virtual=\"/log/board?action=hotnews\" -->"
         "<!--#include virtual=\"/style.css\" -->";
  std::filesystem::copy_file(site.database(), site.root() / "log" / "LOGS.MDB.bak");
  const std::string log = (site.root() / "access.log").string();
  const std::string config = (site.root() / "tessaly.toml").string();
  std::ofstream(config) << "access_log = \"" << log << "\"\ntrusted_proxies = [\"127.0.0.1\"]\n";
  Server tessaly({"--root", site.root().string(), "--config", config});
  testing::TempDir dir;
  Deployed nginx(dir.path() / "own", site.root(), tessaly.port(), false);

  for (const char* target : {"/log/board", "/log/board?action=list&move=next",
                             "/log/board?action=show&id=3", "/style.css", "/"}) {
    HttpResponse direct = tessaly.Get(target);
    HttpResponse proxied = nginx.Get(target);
    EXPECT_EQ(proxied.status, 200) << target;
    EXPECT_EQ(proxied.body, direct.body) << target;
  }
  for (const char* refused :
       {"/log/logs.mdb", "/log/LOGS.MDB.bak", "/log/logs.mdb-wal", "/log/%6Cogs.mdb"}) {
    EXPECT_EQ(nginx.Get(refused).status, 404) << refused;
  }

  // The visitor's address, as nginx saw it, is the one tessaly logs.
  Connection from(Connection::Socket{ConnectFrom("127.0.0.2", nginx.port())});
  from.Send(GetRequest("/log/board?action=list", "X-Forwarded-For: 198.51.100.66\r\n"));
  EXPECT_EQ(from.Read().status, 200);
  tessaly.Stop();
  const std::string logged = ReadFile(log);
  EXPECT_TRUE(Has(logged, " 127.0.0.2 GET /log/board?action=list 200")) << logged;
  EXPECT_EQ(logged.find("198.51.100.66"), std::string::npos) << logged;

  // nginx's own includes instead, around a tessaly that is up again.
  Server again({"--root", site.root().string()});
  Deployed own(dir.path() / "ssi", site.root(), again.port(), true);
  EXPECT_EQ(own.Get("/index.shtml").body, again.Get("/index.shtml").body);
}

}  // namespace
}  // namespace tessaly::e2e
