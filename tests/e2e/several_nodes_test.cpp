// Two servers on one PostgreSQL database, as behind a load balancer: what one node commits
// shows on the very next request to the other, whose cached pages were made before it; with
// the sessions in the database, a visitor's session holds on either node.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

bool Shows(const std::string& page, const std::string& title) {
  return page.find(">" + title + "</a>") != std::string::npos;
}

TEST(SeveralNodesTest, AnEntryAddedOnOneNodeShowsOnTheNextRequestToTheOther) {
  if (!OnPostgres()) GTEST_SKIP() << "several nodes share a PostgreSQL database";
  Site site;
  testing::FillEntries(site.database(), 30);
  Server a({"--root", site.root().string(), "--hot-news", "5"});
  Server b({"--root", site.root().string(), "--hot-news", "5"});
  // Both nodes keep their pages of the first state.
  for (Server* node : {&a, &b}) {
    for (int i = 0; i < 2; ++i) {
      EXPECT_TRUE(Shows(node->Get("/log/board").body, "t30"));
      EXPECT_TRUE(Shows(node->Get("/log/board?action=list").body, "t30"));
    }
  }
  Visitor admin_a(a);
  ASSERT_TRUE(IsControlPanel(LogOn(admin_a, "admin", "secret")));
  ASSERT_NE(admin_a.Post(AdminPage("doadd"), Form({{"title", "fromA"}, {"content", "c"}}))
                .body.find("成功增加日志"),
            std::string::npos);
  EXPECT_TRUE(Shows(b.Get("/log/board").body, "fromA"));
  EXPECT_TRUE(Shows(b.Get("/log/board?action=list").body, "fromA"));
  EXPECT_NE(b.Get("/log/board?action=show&id=31").body.find("<b>fromA</b>"), std::string::npos);

  // A change by another program shows on both.
  testing::Sql(site.database(), "UPDATE MESSAGE SET TITLE = 'renamed' WHERE ID = 30");
  for (Server* node : {&b, &a}) {
    EXPECT_TRUE(Shows(node->Get("/log/board").body, "renamed"));
    EXPECT_FALSE(Shows(node->Get("/log/board").body, "t30"));
  }

  // Deleted on the other node: gone from the first at once.
  Visitor admin_b(b);
  ASSERT_TRUE(IsControlPanel(LogOn(admin_b, "admin", "secret")));
  admin_b.Post(AdminPage("dodel"), "id=31");
  EXPECT_FALSE(Shows(a.Get("/log/board").body, "fromA"));
  EXPECT_FALSE(Shows(a.Get("/log/board?action=list").body, "fromA"));
}

// What a restart of the database server does to the connections of a node: they all break.
// A request may fail on a broken one, once; the node then connects again.
TEST(SeveralNodesTest, ANodeConnectsAgainWhenItsConnectionsAreLost) {
  if (!OnPostgres()) GTEST_SKIP() << "a PostgreSQL server's connections";
  Site site;
  testing::FillEntries(site.database(), 3);
  Server node({"--root", site.root().string(), "--threads", "2"});
  Visitor admin(node);
  ASSERT_TRUE(IsControlPanel(LogOn(admin, "admin", "secret")));
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 4; ++i) EXPECT_EQ(node.Get("/log/board?action=list").status, 200);
    testing::Sql(site.database(),
                 "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE datname = "
                 "current_database() AND pid <> pg_backend_pid()");
    int failed = 0;
    for (int i = 0; i < 4; ++i) failed += node.Get("/log/board?action=list").status != 200;
    EXPECT_LE(failed, 1) << "round " << round;
    EXPECT_EQ(node.Get("/log/board?action=show&id=2").status, 200);
  }
  EXPECT_NE(admin.Post(AdminPage("dodel"), "id=1").body.find("成功删除日志"), std::string::npos);
  EXPECT_EQ(testing::Sql(site.database(), "SELECT count(*) FROM MESSAGE"), "2");
}

// A configuration that keeps the sessions in the database.
std::string SharedSessions(const Site& site) {
  const std::string file = (site.root() / "nodes.toml").string();
  std::ofstream(file) << "[database]\nurl = \"" << site.database()
                      << "\"\n[session]\nstore = \"database\"\n";
  return file;
}

// The page that `cookie` gets from `node`.
std::string With(Server& node, const std::string& cookie, const std::string& target,
                 const std::string& body = {}) {
  const std::string header = "Cookie: " + cookie + "\r\n";
  return (body.empty() ? node.Get(target, header) : node.Post(target, body, kFormType, header))
      .body;
}

TEST(SeveralNodesTest, ALogonAndAPageNumberHoldOnEitherNode) {
  if (!OnPostgres()) GTEST_SKIP() << "several nodes share a PostgreSQL database";
  Site site;
  testing::FillEntries(site.database(), 80);
  const std::string config = SharedSessions(site);
  Server a({"--root", site.root().string(), "--config", config});
  Server b({"--root", site.root().string(), "--config", config});

  Visitor on_a(a);
  ASSERT_TRUE(IsControlPanel(LogOn(on_a, "admin", "secret")));
  const std::string cookie = on_a.cookie();
  ASSERT_FALSE(cookie.empty());
  EXPECT_TRUE(IsControlPanel(With(b, cookie, AdminPage("dodel"), "id=")));
  EXPECT_TRUE(IsLoginForm(b.Post(AdminPage("dodel"), "id=").body));

  // One page number, whichever node the visitor's requests reach (the first "next" of a
  // session that has none shows the first page).
  EXPECT_NE(With(a, cookie, "/log/board?action=list&move=next").find(">1/4<"), std::string::npos);
  EXPECT_NE(With(b, cookie, "/log/board?action=list&move=next").find(">2/4<"), std::string::npos);
  EXPECT_NE(With(a, cookie, "/log/board?action=list&move=next").find(">3/4<"), std::string::npos);

  // Ended on one node: ended on the other.
  With(b, cookie, AdminPage("doadd&title=t&content=c"));  // a GET abandons the session
  EXPECT_TRUE(IsLoginForm(With(a, cookie, AdminPage("dodel"), "id=")));
}

// nginx sending requests to the nodes in turn (its default balancing), on a free port.
class RoundRobin {
 public:
  RoundRobin(const std::filesystem::path& dir, std::initializer_list<int> nodes) {
    for (port_ = 20000 + getpid() % 20000;; ++port_) {
      try {
        testing::HttpConnection taken(port_);
      } catch (const std::exception&) {
        break;  // nobody listens there
      }
    }
    std::ofstream conf(dir / "nginx.conf");
    // As root, the workers run as root too, so that they can write the test's folder.
    conf << (geteuid() == 0 ? "user root;\n" : "") << "worker_processes 1;\npid "
         << (dir / "nginx.pid").string() << ";\nerror_log " << (dir / "error.log").string()
         << ";\nevents {}\nhttp {\naccess_log off;\n"
         << "client_body_temp_path " << (dir / "body").string() << ";\nproxy_temp_path "
         << (dir / "proxy").string() << ";\nupstream nodes {\n";
    for (int node : nodes) conf << "server 127.0.0.1:" << node << ";\n";
    conf << "}\nserver {\nlisten 127.0.0.1:" << port_
         << ";\nlocation / { proxy_pass http://nodes; }\n}\n}\n";
    conf.close();
    pid_ = fork();
    if (pid_ == 0) {
      const std::string prefix = dir.string() + "/", file = (dir / "nginx.conf").string();
      execlp("nginx", "nginx", "-p", prefix.c_str(), "-c", file.c_str(), "-g", "daemon off;",
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
    ADD_FAILURE() << "nginx did not start: " << testing::ReadFile(dir / "error.log");
  }
  ~RoundRobin() {
    kill(pid_, SIGQUIT);
    waitpid(pid_, nullptr, 0);
  }
  int port() const { return port_; }

 private:
  int port_ = 0;
  pid_t pid_ = -1;
};

// Two nodes behind a round-robin balancer: consecutive requests of one visitor alternate, and
// each sees the other's commits and the visitor's logon.
TEST(SeveralNodesTest, BehindARoundRobinBalancerEveryRequestSeesTheLastCommit) {
  if (!OnPostgres()) GTEST_SKIP() << "several nodes share a PostgreSQL database";
  if (std::system("command -v nginx >/dev/null") != 0) GTEST_SKIP() << "nginx is not installed";
  Site site;
  testing::FillEntries(site.database(), 12);
  const std::string config = SharedSessions(site);
  Server a({"--root", site.root().string(), "--config", config});
  Server b({"--root", site.root().string(), "--config", config});
  testing::TempDir dir;
  RoundRobin balancer(dir.path(), {a.port(), b.port()});
  const auto through = [&](const std::string& target, const std::string& cookie,
                           const std::string& body = {}) {
    testing::HttpConnection c(balancer.port());
    const std::string jar = cookie.empty() ? "" : "Cookie: " + cookie + "\r\n";
    c.Send(body.empty() ? GetRequest(target, jar) : PostRequest(target, body, kFormType, jar));
    return c.Read();
  };
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(Shows(through("/log/board", "").body, "t12"));
  const HttpResponse logon =
      through(AdminPage("logon"), "", Form({{"username", "admin"}, {"password", "secret"}}));
  ASSERT_TRUE(IsControlPanel(logon.body));
  const std::string cookie =
      logon.Header("set-cookie").substr(0, logon.Header("set-cookie").find(';'));
  for (int i = 0; i < 4; ++i) {
    const std::string title = "n" + std::to_string(i);
    ASSERT_NE(through(AdminPage("doadd"), cookie, Form({{"title", title}, {"content", "c"}}))
                  .body.find("成功增加日志"),
              std::string::npos)
        << i;
    // The next two requests reach one node each.
    EXPECT_TRUE(Shows(through("/log/board", "").body, title));
    EXPECT_TRUE(Shows(through("/log/board", "").body, title));
  }
}

TEST(SeveralNodesTest, AGuessingClientIsShutOutOnEveryNode) {
  if (!OnPostgres()) GTEST_SKIP() << "several nodes share a PostgreSQL database";
  Site site;
  const std::string config = SharedSessions(site);
  Server a({"--root", site.root().string(), "--config", config});
  Server b({"--root", site.root().string(), "--config", config});
  Visitor on_a(a), on_b(b);
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(IsWrongAccount(LogOn(i % 2 ? on_a : on_b, "admin", "wrong")));
  }
  EXPECT_TRUE(IsWrongAccount(LogOn(on_a, "admin", "secret")));
  EXPECT_TRUE(IsWrongAccount(LogOn(on_b, "admin", "secret")));
  Visitor elsewhere(a, "127.0.0.2");
  EXPECT_TRUE(IsControlPanel(LogOn(elsewhere, "admin", "secret")));
}

}  // namespace
}  // namespace tessaly::e2e
