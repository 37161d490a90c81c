// deploy/nginx.conf in front of a running tessaly: pages, static files and includes come
// through byte for byte, the database stays refused, the visitor's address reaches tessaly,
// and nginx's own includes work as the alternative.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <thread>

#include "e2e/admin_loopback.h"
#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

using testing::ReadFile;

// nginx with the deployed server block, pointed at this test's site and tessaly.
class Nginx {
 public:
  Nginx(const std::filesystem::path& dir, const std::filesystem::path& site, int tessaly_port,
        bool own_includes)
      : port_(FreePort()) {
    std::string block = ReadFile(TESSALY_SOURCE_DIR "/deploy/nginx.conf");
    block = std::regex_replace(block, std::regex("127\\.0\\.0\\.1:8080"),
                               "127.0.0.1:" + std::to_string(tessaly_port));
    block = std::regex_replace(block, std::regex("listen 80;"),
                               "listen 127.0.0.1:" + std::to_string(port_) + ";");
    block = std::regex_replace(block, std::regex("/var/lib/tessaly/site"), site.string());
    if (own_includes) {
      block = std::regex_replace(block,
                                 std::regex("location ~\\* \\\\\\.shtml\\$ \\{\\n\\s*proxy_pass"
                                            " http://tessaly;\\n\\s*\\}"),
                                 "location ~* \\.shtml$ { ssi on; }");
    }
    std::filesystem::create_directories(dir / "logs");
    std::ofstream(dir / "nginx.conf")
        << "user root;\nworker_processes 1;\npid " << (dir / "nginx.pid").string()
        << ";\nerror_log " << (dir / "error.log").string()
        << ";\nevents { worker_connections 64; }\nhttp {\naccess_log off;\n"
           "types { text/html html shtml; text/css css; }\n"
           "default_type application/octet-stream;\nclient_body_temp_path "
        << (dir / "body").string() << ";\nproxy_temp_path " << (dir / "proxy").string() << ";\n"
        << block << "\n}\n";
    pid_ = fork();
    if (pid_ == 0) {
      const std::string prefix = dir.string() + "/";
      const std::string conf = (dir / "nginx.conf").string();
      execlp("nginx", "nginx", "-p", prefix.c_str(), "-c", conf.c_str(), "-g", "daemon off;",
             nullptr);
      _exit(127);
    }
    for (int i = 0; i < 100; ++i) {
      try {
        testing::HttpConnection probe(port_);
        return;
      } catch (const std::exception&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    ADD_FAILURE() << "nginx did not start: " << ReadFile(dir / "error.log");
  }
  ~Nginx() {
    kill(pid_, SIGQUIT);
    waitpid(pid_, nullptr, 0);
  }
  HttpResponse Get(const std::string& target) {
    testing::HttpConnection c(port_);
    // HTTP/1.0, so that nginx sends an included page whole rather than in chunks.
    c.Send("GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    return c.Read();
  }
  int port() const { return port_; }

 private:
  int port_;
  pid_t pid_ = -1;
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
  Nginx nginx(dir.path() / "own", site.root(), tessaly.port(), false);

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
  EXPECT_NE(logged.find(" 127.0.0.2 GET /log/board?action=list 200"), std::string::npos) << logged;
  EXPECT_EQ(logged.find("198.51.100.66"), std::string::npos) << logged;
}

TEST(NginxTest, NginxOwnIncludesAsTheAlternative) {
  if (system("command -v nginx >/dev/null") != 0) GTEST_SKIP() << "nginx is not installed";
  Site site;
  testing::FillEntries(site.database(), 3);
  std::ofstream(site.root() / "index.shtml")
      << "<h1>home</h1><!--#include virtual=\"/log/board?action=hotnews\" -->";
  Server tessaly({"--root", site.root().string()});
  testing::TempDir dir;
  Nginx nginx(dir.path(), site.root(), tessaly.port(), true);
  EXPECT_EQ(nginx.Get("/index.shtml").body, tessaly.Get("/index.shtml").body);
}

}  // namespace
}  // namespace tessaly::e2e
