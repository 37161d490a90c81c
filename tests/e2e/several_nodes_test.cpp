// Two servers on one PostgreSQL database, as behind a load balancer: what one node commits
// shows on the very next request to the other, whose cached pages were made before it; with
// the sessions in the database, a visitor's session holds on either node.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "e2e/harness.h"
#include "e2e/nginx.h"
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
  for (Server* node : {&a, &b, &a, &b}) {  // both nodes keep their pages of the first state
    EXPECT_TRUE(Shows(node->Get("/log/board").body, "t30"));
    EXPECT_TRUE(Shows(node->Get("/log/board?action=list").body, "t30"));
  }
  Visitor admin_a(a);
  ASSERT_TRUE(IsControlPanel(LogOn(admin_a, "admin", "secret")));
  ASSERT_TRUE(
      Has(admin_a.Post(AdminPage("doadd"), Form({{"title", "fromA"}, {"content", "c"}})).body,
          "成功增加日志"));
  EXPECT_TRUE(Shows(b.Get("/log/board").body, "fromA"));
  EXPECT_TRUE(Shows(b.Get("/log/board?action=list").body, "fromA"));
  EXPECT_TRUE(Has(b.Get("/log/board?action=show&id=31").body, "<b>fromA</b>"));

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

// Under load a node's requests share its reads of the database's state; each request must
// still see every commit that returned before it was sent, never an answer already on its way.
TEST(SeveralNodesTest, UnderLoadEachRequestSeesTheCommitsBeforeIt) {
  if (!OnPostgres()) GTEST_SKIP() << "reads of a PostgreSQL database's state";
  Site site;
  testing::FillEntries(site.database(), 5);
  Server node({"--root", site.root().string(), "--threads", "2"});
  std::atomic<bool> done{false};
  std::vector<std::thread> load;
  for (int i = 0; i < 8; ++i) {
    load.emplace_back([&] {
      Visitor reader(node);
      while (!done) reader.Get("/log/board");
    });
  }
  for (int i = 0; i < 30; ++i) {
    const std::string title = "u" + std::to_string(i);
    testing::Sql(site.database(), "UPDATE MESSAGE SET TITLE = '" + title + "' WHERE ID = 5");
    EXPECT_TRUE(Shows(node.Get("/log/board").body, title)) << i;
  }
  done = true;
  for (std::thread& t : load) t.join();
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
  EXPECT_TRUE(Has(admin.Post(AdminPage("dodel"), "id=1").body, "成功删除日志"));
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

TEST(SeveralNodesTest, ALogonAPageNumberAndAShutOutHoldOnEitherNode) {
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
  EXPECT_TRUE(Has(With(a, cookie, "/log/board?action=list&move=next"), ">1/4<"));
  EXPECT_TRUE(Has(With(b, cookie, "/log/board?action=list&move=next"), ">2/4<"));
  EXPECT_TRUE(Has(With(a, cookie, "/log/board?action=list&move=next"), ">3/4<"));

  // Ended on one node: ended on the other.
  With(b, cookie, AdminPage("doadd&title=t&content=c"));  // a GET abandons the session
  EXPECT_TRUE(IsLoginForm(With(a, cookie, AdminPage("dodel"), "id=")));

  // A client guessing on both nodes in turn is shut out on every node.
  Visitor guess_a(a, "127.0.0.3"), guess_b(b, "127.0.0.3");
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(IsWrongAccount(LogOn(i % 2 ? guess_a : guess_b, "admin", "wrong")));
  }
  EXPECT_TRUE(IsWrongAccount(LogOn(guess_a, "admin", "secret")));
  EXPECT_TRUE(IsWrongAccount(LogOn(guess_b, "admin", "secret")));
}

// The server block of nginx sending requests to the nodes in turn (its default balancing).
std::function<std::string(int)> RoundRobin(std::initializer_list<int> nodes) {
  std::string upstream = "upstream nodes {\n";
  for (int node : nodes) upstream += "server 127.0.0.1:" + std::to_string(node) + ";\n";
  return [upstream](int port) {
    return upstream + "}\nserver {\nlisten 127.0.0.1:" + std::to_string(port) +
           ";\nlocation / { proxy_pass http://nodes; }\n}";
  };
}

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
  Nginx balancer(dir.path(), RoundRobin({a.port(), b.port()}));
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
    ASSERT_TRUE(
        Has(through(AdminPage("doadd"), cookie, Form({{"title", title}, {"content", "c"}})).body,
            "成功增加日志"))
        << i;
    // The next two requests reach one node each.
    EXPECT_TRUE(Shows(through("/log/board", "").body, title));
    EXPECT_TRUE(Shows(through("/log/board", "").body, title));
  }
}

}  // namespace
}  // namespace tessaly::e2e
