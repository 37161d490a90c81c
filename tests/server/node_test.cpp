// What a node offers to what runs it: the health check's state, the settings that a reload
// takes up, and the sockets that a service manager hands over. Their travel over HTTP and
// signals is in tests/e2e/node_test.cpp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "base/errors.h"
#include "server/config.h"
#include "server/health.h"
#include "server/live_settings.h"
#include "server/socket_activation.h"
#include "support/error_of.h"
#include "support/temp_dir.h"

namespace tessaly::server {
namespace {

// The message of the ConfigError that `f` throws; "" when it throws none.
template <typename F>
std::string ErrorOf(F f) {
  return support::ErrorOf<ConfigError>(f);
}

// The probe's answer, kept until the next; a probe that throws or spans lines gives one line;
// draining wins over everything.
TEST(HealthTest, SaysWhatTheProbeSaidInOneLineAndDrainingAboveAll) {
  std::atomic<int> asked{0};
  std::atomic<bool> fail{false};
  Health health("/healthz", [&]() -> std::string {
    ++asked;
    if (fail) throw std::runtime_error("database: gone\nfor now");
    return "";
  });
  EXPECT_EQ(asked, 1);  // once before the constructor returns
  EXPECT_EQ(health.Trouble(), "");
  Answer answer;
  health.Respond(answer);
  EXPECT_EQ(answer.head.status(), 200u);
  EXPECT_EQ(answer.head.lines(),
            "Content-Type: text/plain; charset=utf-8\r\nCache-Control: no-store\r\n");
  EXPECT_EQ(answer.body, "ok\n");
  EXPECT_EQ(answer.content_length, 3u);

  fail = true;
  const auto deadline = std::chrono::steady_clock::now() + 3 * Health::kProbeEvery;
  while (health.Trouble().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(health.Trouble(), "database: gone for now");
  EXPECT_LE(asked, 4);  // once a second, however often it is read

  health.StartDraining();
  health.Respond(answer);
  EXPECT_EQ(answer.head.status(), 503u);
  EXPECT_EQ(answer.body, "draining\n");

  Health unprobed("/healthz", nullptr);
  EXPECT_EQ(unprobed.Trouble(), "");
}

TEST(LiveSettingsTest, TakesUpWhatAppliesAtOnceAndNamesWhatNeedsARestart) {
  ServerConfig running;
  LiveSettings live(running);
  const auto before = live.Current();

  ServerConfig same = running;
  const LiveSettings::Changes none = live.Apply(same);
  EXPECT_TRUE(none.applied.empty() && none.need_restart.empty());
  EXPECT_EQ(live.version(), 0u);
  EXPECT_EQ(live.Current(), before);

  ServerConfig next = running;
  next.texts.notice = "新的";
  next.max_header_bytes = 4096;
  next.read_timeout_seconds = 7;
  next.trusted_proxies = {"127.0.0.1"};
  next.drain_seconds = 0;
  next.listen = "0.0.0.0:80";
  next.threads = 3;
  next.max_connections = 5;
  next.pages = {PageConfig{.path = "/other"}};
  next.database_url = "postgresql://x/y";
  next.max_body_bytes = running.max_body_memory_bytes + 1;  // beyond the running budget
  const LiveSettings::Changes changes = live.Apply(next);
  EXPECT_EQ(changes.applied, (std::vector<std::string>{"site", "limits.max_header_bytes",
                                                       "limits.read_timeout_seconds",
                                                       "trusted_proxies", "health.drain_seconds"}));
  EXPECT_EQ(changes.need_restart,
            (std::vector<std::string>{"limits.max_body_bytes", "listen", "threads", "page",
                                      "limits.max_connections", "database.url"}));
  EXPECT_EQ(live.version(), 1u);
  const auto now = live.Current();
  EXPECT_EQ(now->texts.notice, "新的");
  EXPECT_EQ(std::tie(now->max_header_bytes, now->read_timeout_seconds, now->drain_seconds),
            std::make_tuple(std::size_t{4096}, 7, 0));
  EXPECT_EQ(
      std::tie(now->listen, now->threads, now->max_body_bytes, now->database_url),
      std::tie(running.listen, running.threads, running.max_body_bytes, running.database_url));
  EXPECT_EQ(before->texts.notice, running.texts.notice);  // a snapshot held is never changed

  // A file that does not parse changes nothing.
  live.Reload([]() -> ServerConfig { throw ConfigError("t.toml: line 1"); });
  EXPECT_EQ(live.Current(), now);
}

TEST(SocketActivationTest, TakesNothingMeantForAnotherProcessAndClearsTheVariables) {
  ::setenv("LISTEN_PID", std::to_string(::getpid() + 1).c_str(), 1);
  ::setenv("LISTEN_FDS", "1", 1);
  EXPECT_FALSE(TakeActivatedSocket());
  EXPECT_EQ(std::getenv("LISTEN_PID"), nullptr);
  EXPECT_EQ(std::getenv("LISTEN_FDS"), nullptr);
  EXPECT_FALSE(TakeActivatedSocket());

  // Descriptor 3 that is no listening socket is refused, not served. A test runner may hold 3
  // open: it is set aside and put back, so that the check runs there too.
  const int flags = ::fcntl(kFirstActivatedSocket, F_GETFD);
  const int set_aside = flags == -1 ? -1 : ::fcntl(kFirstActivatedSocket, F_DUPFD_CLOEXEC, 10);
  ASSERT_EQ(::dup2(2, kFirstActivatedSocket), kFirstActivatedSocket);
  ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
  ::setenv("LISTEN_FDS", "1", 1);
  EXPECT_EQ(ErrorOf([] { TakeActivatedSocket(); }),
            "the socket passed by the service manager is not a listening TCP socket");
  ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
  ::setenv("LISTEN_FDS", "2", 1);
  EXPECT_EQ(ErrorOf([] { TakeActivatedSocket(); }),
            "the service manager passed 2 sockets; tessaly listens on one");
  ::close(kFirstActivatedSocket);
  if (set_aside != -1) {
    ::dup2(set_aside, kFirstActivatedSocket);
    ::fcntl(kFirstActivatedSocket, F_SETFD, flags);
    ::close(set_aside);
  }
}

}  // namespace
}  // namespace tessaly::server
