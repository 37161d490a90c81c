// A node as a load balancer and a service manager see it: the health check while the database
// answers, fails and comes back; the drain after SIGTERM; a reload on SIGHUP; and the listening
// socket handed over by a service manager, on which new connections wait through a restart.
// The health answer's head is HealthTest's (tests/server/node_test.cpp).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "e2e/harness.h"

namespace tessaly::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// Asks `get` until `done` holds of the answer or `seconds` pass; returns the last answer.
HttpResponse Until(const std::function<HttpResponse()>& get,
                   const std::function<bool(const HttpResponse&)>& done, int seconds = 10) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  HttpResponse last = get();
  while (!done(last) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    last = get();
  }
  return last;
}
bool Is(const HttpResponse& r, int status) { return r.status == status; }

// The name of the database of a PostgreSQL URL.
std::string DatabaseName(const std::string& url) {
  const std::size_t name = url.find('/', url.find("://") + 3) + 1;
  return url.substr(name, url.find('?', name) - name);
}

// The database stops answering the node: on the file, its folder goes away (the pool's open
// connections would go on reading it); on PostgreSQL, the database refuses connections and
// those open are ended.
void TakeAway(const Site& site) {
  if (!OnPostgres()) {
    return std::filesystem::rename(site.root() / "log", site.root() / "log.away");
  }
  const std::string name = DatabaseName(site.database());
  support::Script(support::PostgresServerUrl(),
                  "ALTER DATABASE " + name + " ALLOW_CONNECTIONS false");
  support::Script(
      support::PostgresServerUrl(),
      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + name + "'");
}
void GiveBack(const Site& site) {
  if (!OnPostgres()) {
    return std::filesystem::rename(site.root() / "log.away", site.root() / "log");
  }
  support::Script(support::PostgresServerUrl(),
                  "ALTER DATABASE " + DatabaseName(site.database()) + " ALLOW_CONNECTIONS true");
}

TEST(HealthTest, OkWhileTheDatabaseAnswersThenWhyNotThenOkAgainAndNeverInTheAccessLog) {
  Site site;
  const std::string log = (site.root() / "access.log").string();
  const std::string config = (site.root() / "tessaly.toml").string();
  std::ofstream(config) << "access_log = \"" << log << "\"\n";
  Server tessaly(site, {"--config", config});
  const auto health = [&] { return tessaly.Get("/healthz"); };

  const HttpResponse ok = Until(health, [](const HttpResponse& r) { return Is(r, 200); });
  EXPECT_EQ(ok.status, 200) << ok.body;
  EXPECT_EQ(ok.body, "ok\n");

  TakeAway(site);
  const HttpResponse down = Until(health, [](const HttpResponse& r) { return Is(r, 503); });
  GiveBack(site);
  EXPECT_EQ(down.status, 503);
  EXPECT_EQ(down.body.find('\n'), down.body.size() - 1) << down.body;  // the reason, one line
  if (!OnPostgres()) {
    EXPECT_TRUE(down.body.starts_with("database: cannot open ")) << down.body;
  }

  EXPECT_EQ(Until(health, [](const HttpResponse& r) { return Is(r, 200); }).status, 200);
  EXPECT_EQ(tessaly.Get("/log/board").status, 200);
  EXPECT_EQ(tessaly.Stop(), 0);
  const std::string logged = support::ReadFile(log);
  EXPECT_TRUE(Has(logged, " GET /log/board 200 ")) << logged;
  EXPECT_FALSE(Has(logged, "/healthz")) << logged;
}

TEST(DrainTest, ServesOnWhileTheHealthSaysDrainingThenExitsASecondSignalAtOnce) {
  if (OnPostgres()) GTEST_SKIP() << "the server's signals, whatever keeps the site";
  Site site;
  Server tessaly(site, {"--drain-seconds", "2"});
  Connection kept(tessaly.port());
  kept.Send("GET /log/board HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(kept.Read().status, 200);

  const auto signalled = Clock::now();
  kill(tessaly.pid(), SIGTERM);
  const HttpResponse draining = Until([&] { return tessaly.Get("/healthz"); },
                                      [](const HttpResponse& r) { return Is(r, 503); });
  EXPECT_EQ(draining.status, 503);
  EXPECT_EQ(draining.body, "draining\n");
  const HttpResponse page = tessaly.Get("/log/board?action=list");
  EXPECT_EQ(page.status, 200);
  // A connection kept from before is served too, and closed after its answer.
  kept.Send("GET /log/board HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  const HttpResponse last = kept.Read();
  EXPECT_EQ(last.status, 200);
  EXPECT_EQ(last.Header("connection"), "close");

  EXPECT_EQ(tessaly.Wait(), 0);
  const auto drained = Clock::now() - signalled;
  EXPECT_GE(drained, std::chrono::milliseconds(1900));
  EXPECT_LT(drained, std::chrono::seconds(8));
  EXPECT_THROW(Connection refused(tessaly.port()), std::runtime_error);

  Server slow(site, {"--drain-seconds", "600"});
  kill(slow.pid(), SIGTERM);
  EXPECT_EQ(
      Until([&] { return slow.Get("/healthz"); }, [](const HttpResponse& r) { return Is(r, 503); })
          .status,
      503);
  kill(slow.pid(), SIGINT);
  EXPECT_EQ(slow.Wait(), 0);
}

TEST(ReloadTest, HupTakesUpTextsAndLimitsAndABadFileChangesNothing) {
  Site site;
  support::FillEntries(site.database(), 3);
  const std::filesystem::path config = site.root() / "tessaly.toml";
  std::ofstream(config) << "[site]\nnotice = \"旧的通知\"\n";
  Server tessaly(site, {"--config", config.string()});
  const auto list = [&] { return tessaly.Get("/log/board?action=list"); };
  const std::string long_header = "X-Long: " + std::string(2000, 'x') + "\r\n";
  EXPECT_TRUE(Has(list().body, "旧的通知"));
  EXPECT_EQ(tessaly.Get("/log/board", long_header).status, 200);

  std::ofstream(config) << "threads = 3\n[limits]\nmax_header_bytes = 1024\n"
                           "[site]\nnotice = \"新的通知\"\n";
  kill(tessaly.pid(), SIGHUP);
  const HttpResponse reloaded =
      Until(list, [](const HttpResponse& r) { return Has(r.body, "新的通知"); });
  EXPECT_TRUE(Has(reloaded.body, "新的通知")) << reloaded.body;
  EXPECT_EQ(tessaly.Get("/log/board", long_header).status, 431);

  std::ofstream(config) << "[site\nnotice = \"坏的\"\n";
  kill(tessaly.pid(), SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(Has(list().body, "新的通知"));
  EXPECT_EQ(tessaly.Get("/log/board", long_header).status, 431);
}

// A listening socket on a free loopback port, as a service manager holds it.
int ListeningSocket(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 64) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    throw std::runtime_error("cannot listen");
  }
  port = ntohs(address.sin_port);
  return fd;
}

// Starts tessaly serve for `site` with `socket` handed over as a service manager hands it.
pid_t ServeActivated(const Site& site, int socket) {
  std::vector<std::string> args = site.Command("serve", {"--drain-seconds", "0"});
  const pid_t pid = fork();
  if (pid != 0) return pid;
  dup2(socket, 3);  // clears close-on-exec on 3
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  setenv("LISTEN_FDS", "1", 1);
  setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
  std::vector<char*> argv = {const_cast<char*>(TESSALY_BINARY)};
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(TESSALY_BINARY, argv.data());
  _exit(127);
}

int Finish(pid_t pid, int signal) {
  kill(pid, signal);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SocketActivationTest, ServesTheSocketHandedOverOnWhichConnectionsWaitThroughARestart) {
  if (OnPostgres()) GTEST_SKIP() << "the server's sockets, whatever keeps the site";
  Site site;
  int port = 0;
  const int socket = ListeningSocket(port);
  pid_t first = ServeActivated(site, socket);
  const auto health = [&] { return Fetch(port, GetRequest("/healthz")); };
  EXPECT_EQ(health().body, "ok\n");
  EXPECT_EQ(Finish(first, SIGTERM), 0);

  // Between the two servers, the kernel queues the connection and its request.
  Connection waiting(port);
  waiting.Send(GetRequest("/log/board"));
  EXPECT_FALSE(waiting.Readable(200));
  const pid_t second = ServeActivated(site, socket);
  EXPECT_EQ(waiting.Read().status, 200);
  EXPECT_EQ(Finish(second, SIGTERM), 0);
  close(socket);

  // The same with systemd's own tool, which starts the server on the first connection.
  if (std::system("command -v systemd-socket-activate >/dev/null") != 0) {
    GTEST_SKIP() << "systemd-socket-activate is not installed";
  }
  const int free_socket = ListeningSocket(port);
  close(free_socket);
  std::vector<std::string> args = site.Command("serve", {"--drain-seconds", "0"});
  args.insert(args.begin(), {"-l", "127.0.0.1:" + std::to_string(port), TESSALY_BINARY});
  const pid_t activator = fork();
  if (activator == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv = {const_cast<char*>("systemd-socket-activate")};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  const HttpResponse served = Until(
      [&] {
        try {
          return health();
        } catch (const std::exception&) {
          return HttpResponse{};
        }
      },
      [](const HttpResponse& r) { return Is(r, 200); });
  EXPECT_EQ(served.body, "ok\n");
  EXPECT_EQ(Finish(activator, SIGTERM), 0);  // the tool runs the server in its own place
}

}  // namespace
}  // namespace tessaly::e2e
