// The public pages, kept between requests by the server, never show a state older than the
// last commit that returned before the request was sent: commits of another program, of the
// admin pages and of another node on the same PostgreSQL database, also while a writer commits
// as readers ask, where each page must show one committed state.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <set>
#include <thread>

#include "e2e/harness.h"

namespace tessaly::e2e {
namespace {

bool Shows(const std::string& page, const std::string& title) {
  return Has(page, ">" + title + "</a>");
}

TEST(CacheTest, AChangeByAnotherProgramOrTheAdminPagesShowsOnTheNextRequest) {
  Site site;
  support::FillEntries(site.database(), 30);
  const Server server(site);
  Visitor reader(server);
  const auto hot_news = [&] { return Rows(reader.Get("/log/board").body); };
  const auto entry = [&](int id) {
    return reader.Get("/log/board?action=show&id=" + std::to_string(id)).body;
  };
  const auto last_page = [&] { return Rows(reader.Get("/log/board?action=list&move=last").body); };
  for (int twice = 0; twice < 2; ++twice) {
    ASSERT_EQ(hot_news().front().title, "t30");
    ASSERT_TRUE(Has(entry(3), "<b>t3</b>"));
    ASSERT_EQ(last_page().size(), 5u);
  }
  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(admin.LogOn()));
  admin.Post(AdminPage("doadd"), Form({{"title", "added"}, {"content", "c"}}));
  EXPECT_EQ(hot_news().front().title, "added");
  EXPECT_EQ(last_page().size(), 6u);
  admin.Post(AdminPage("update&id=3"), Form({{"title", "edited"}, {"content", "c"}}));
  EXPECT_TRUE(Has(entry(3), "<b>edited</b>"));
  admin.Post(AdminPage("dodel"), "id=1");
  EXPECT_EQ(last_page().back().id, 2);
  EXPECT_TRUE(Has(entry(1), "该日志不存在"));
}

// Every public page answers a client that has it with a 304 that carries the same tag and
// Cache-Control, until a commit changes that page; pages that depend on the visitor's session
// are the visitor's own. Tags name a page's bytes, so a commit that leaves a page alone leaves
// its tag alone.
TEST(ConditionalTest, EveryPublicPageAnswers304UntilACommitChangesIt) {
  Site site;
  support::FillEntries(site.database(), 60);
  const Server server(site);
  struct Page {
    std::string target, cache_control, tag;
  };
  std::vector<Page> pages = {
      {"/log/board", "no-cache", ""},
      {"/log/board?action=show&id=3", "no-cache", ""},
      {"/log/board?action=show&id=4", "no-cache", ""},
      {"/log/board?action=feed", "no-cache", ""},
      {"/log/board?action=list", "private, no-cache", ""},
      {"/log/board?action=list&move=last", "private, no-cache", ""},
      {"/log/board?action=search&q=c", "private, no-cache", ""},
      {"/log/board?action=search&q=C", "private, no-cache", ""},  // another form value
  };
  const auto ask = [&](const Page& page, const std::string& if_none_match) {
    return server.Get(page.target, "If-None-Match: " + if_none_match + "\r\n");
  };
  std::set<std::string> tags;
  for (Page& page : pages) {
    const HttpResponse first = server.Get(page.target);
    ASSERT_EQ(first.status, 200) << page.target;
    page.tag = first.Header("etag");
    EXPECT_EQ(first.Header("cache-control"), page.cache_control) << page.target;
    EXPECT_TRUE(tags.insert(page.tag).second) << page.target << " has another page's tag";
    // Which lists name the tag is ConditionalTest's in tests/pages.
    const HttpResponse again = ask(page, page.tag);
    EXPECT_EQ(again.status, 304) << page.target;
    EXPECT_EQ(again.body, "");
    EXPECT_EQ(again.Header("etag"), page.tag);
    EXPECT_EQ(again.Header("cache-control"), page.cache_control);
  }
  // Another method acts rather than answer from what the client has.
  EXPECT_EQ(Fetch(server.port(), "POST /log/board HTTP/1.1\r\nHost: x\r\nIf-None-Match: " +
                                     pages[0].tag + "\r\nContent-Length: 0\r\n\r\n")
                .status,
            200);
  // A visitor's session makes a page the visitor's own; a session cookie the page does not read
  // does not (an item from the cookies is PageRunTest's).
  Visitor visitor(server);
  visitor.Get("/log/board?action=list");
  const std::string page_two = visitor.Get("/log/board?action=list&move=next").Header("etag");
  ASSERT_EQ(visitor.cookie.size(), 43u) << visitor.cookie;  // a session of its own
  const std::string session = "Cookie: " + visitor.cookie + "\r\n";
  EXPECT_EQ(server.Get("/log/board", session).Header("cache-control"), "no-cache");

  // A 304 of a list still moves the visitor: the "next" it answers is remembered.
  ASSERT_TRUE(Has(server.Get("/log/board?action=list", session).body, ">1/3<"));
  EXPECT_EQ(
      server
          .Get("/log/board?action=list&move=next", session + "If-None-Match: " + page_two + "\r\n")
          .status,
      304);
  EXPECT_TRUE(Has(server.Get("/log/board?action=list&move=next", session).body, ">3/3<"));

  // A commit that changes every page but one: the old tags get the new pages.
  support::Script(site.database(),
                  "BEGIN; INSERT INTO MESSAGE (TITLE, CONTENT, STIME) VALUES ('new', 'c', "
                  "'2026-05-01 00:00:00'); UPDATE MESSAGE SET TITLE = 'renamed' WHERE ID = 3; "
                  "COMMIT;");
  for (const Page& page : pages) {
    const HttpResponse after = ask(page, page.tag);
    if (page.target.ends_with("id=4")) {
      EXPECT_EQ(after.status, 304);
      continue;
    }
    EXPECT_EQ(after.status, 200) << page.target;
    EXPECT_NE(after.Header("etag"), page.tag) << page.target;
    EXPECT_EQ(after.body, server.Get(page.target).body) << page.target;
    EXPECT_EQ(ask(page, after.Header("etag")).status, 304) << page.target;
  }
}

// deploy/nginx.conf with the configuration it asks of tessaly: nginx answers a kept public page
// without asking tessaly, revalidates it once it is a second old (tessaly answers 304 while
// nothing changed), shows a commit after that second, and keeps no page of one visitor.
// nginx counts whole seconds, so "a second" is one to two seconds here.
TEST(NginxCacheTest, KeepsPublicPagesRevalidatesThemAndShowsACommitAfterASecond) {
  if (OnPostgres()) GTEST_SKIP() << "nginx in front of the site's file";
  if (!HaveNginx()) GTEST_SKIP() << "nginx is not installed";
  Site site;
  support::FillEntries(site.database(), 30);
  const std::string log = (site.root() / "access.log").string();
  const std::string config = (site.root() / "tessaly.toml").string();
  std::ofstream(config) << "access_log = \"" << log << "\"\ntrusted_proxies = [\"127.0.0.1\"]\n"
                        << "[cache]\npublic_cache_control = \"max-age=0, s-maxage=1\"\n";
  Server tessaly(site, {"--config", config});
  support::TempDir dir;
  const Nginx nginx(dir.path(), Deployed(site.root(), tessaly.port(), dir.path()));
  // Answers of nginx, counting those of the hot news block that nginx asked tessaly for.
  int asked = 0;
  const auto get = [&](const std::string& target, const std::string& headers = {}) {
    HttpResponse r = Fetch(nginx.port(), GetRequest(target, headers));
    asked += target == "/log/board" && r.Header("x-cache-status") != "HIT";
    return r;
  };
  // tessaly's answers to nginx for `target`, by status, once tessaly has stopped (a line is
  // written after its answer is sent).
  const auto reached = [&](const std::string& target, int status) {
    const std::string lines = support::ReadFile(log);
    const std::string line = " GET " + target + " " + std::to_string(status) + " ";
    int count = 0;
    for (std::size_t at = lines.find(line); at != std::string::npos;
         at = lines.find(line, at + 1)) {
      ++count;
    }
    return count;
  };

  const HttpResponse first = get("/log/board");
  ASSERT_EQ(first.status, 200);
  EXPECT_EQ(first.Header("cache-control"), "max-age=0, s-maxage=1");
  for (int i = 0; i < 20; ++i) EXPECT_EQ(get("/log/board").body, first.body);
  // A browser that has the page is answered by nginx.
  EXPECT_EQ(get("/log/board", "If-None-Match: " + first.Header("etag") + "\r\n").status, 304);
  EXPECT_LE(asked, 5) << "most requests never reach tessaly";

  // Once the second is over (nginx counts whole seconds: one to two seconds after it kept the
  // page), nginx asks tessaly with the page's tag, and gets a 304.
  const auto after_the_second = [] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  };
  after_the_second();
  const HttpResponse revalidated = get("/log/board");
  EXPECT_EQ(revalidated.Header("x-cache-status"), "REVALIDATED");
  EXPECT_EQ(revalidated.body, first.body);

  // A commit shows once the second is over.
  support::InsertEntry(site.database(), "fresh", "c", "2026-05-01 00:00:00");
  after_the_second();
  const HttpResponse after = get("/log/board");
  EXPECT_EQ(after.Header("x-cache-status"), "EXPIRED");
  EXPECT_TRUE(Shows(after.body, "fresh")) << after.body;
  EXPECT_TRUE(Has(get("/log/board?action=show&id=31").body, "<b>fresh</b>"));

  // A list remembers the visitor's page: every request reaches tessaly, with its cookie.
  for (int i = 0; i < 3; ++i) {
    const HttpResponse list = get("/log/board?action=list");
    EXPECT_FALSE(list.Header("set-cookie").empty());
  }
  Visitor visitor(nginx.port());
  visitor.Get("/log/board?action=list");
  EXPECT_TRUE(Has(visitor.Get("/log/board?action=list&move=next").body, ">2/2<"));
  EXPECT_TRUE(Has(visitor.Get("/log/board?action=list&move=previous").body, ">1/2<"));

  ASSERT_EQ(tessaly.Stop(), 0);
  EXPECT_EQ(reached("/log/board", 200) + reached("/log/board", 304), asked);
  EXPECT_GE(reached("/log/board", 304), 1);
  EXPECT_EQ(reached("/log/board?action=list", 200), 4);
}

// On entries t1 to t30, commit i adds entry w<i> and renames entry 1 to v<i>, so that every
// page names the commit it shows; readers check that a page shows exactly one commit's state,
// at least the one committed before they asked and at most the one begun when the answer came.
TEST(CacheTest, UnderAWriterEveryPageShowsOneCommittedStateNoOlderThanTheRequest) {
  constexpr int kFirst = 30;
  constexpr int kPagesToRead = 400;  // the writer goes on until the readers have read as many
  Site site;
  support::FillEntries(site.database(), kFirst);
  const Server server(site, {"--threads", "2"});
  std::atomic<int> committed{kFirst}, begun{kFirst}, pages_read{0};
  std::atomic<bool> writing{true};
  std::thread writer([&] {
    for (int i = kFirst + 1; i <= 5000 && pages_read < kPagesToRead; ++i) {
      char added[64];  // i seconds into April, after the first entries
      std::snprintf(added, sizeof added, "('w%d', 'c', '2026-04-01 %02d:%02d:%02d')", i, i / 3600,
                    i / 60 % 60, i % 60);
      begun = i;
      EXPECT_NO_THROW(support::Script(site.database(),
                                      "BEGIN; INSERT INTO MESSAGE (TITLE, CONTENT, STIME) VALUES " +
                                          std::string(added) + "; UPDATE MESSAGE SET TITLE = 'v" +
                                          std::to_string(i) + "' WHERE ID = 1; COMMIT;"));
      committed = i;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writing = false;
  });

  // The commit that `rows`, the newest entries after the first `skip`, show, after checking
  // that they show nothing but that commit.
  const auto commit_of = [](const std::vector<Row>& rows, int skip) {
    if (rows.empty()) return 0;
    const int k = static_cast<int>(rows.front().id) + skip;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const std::int64_t id = k - skip - static_cast<std::int64_t>(i);
      EXPECT_EQ(rows[i].id, id);
      EXPECT_EQ(rows[i].title, id == 1 && k > kFirst
                                   ? "v" + std::to_string(k)
                                   : (id > kFirst ? "w" : "t") + std::to_string(id));
    }
    return k;
  };
  // A list page, checked against its pager "shown/pages": the page of the count when the
  // request came, where a commit that adds a page before the last is read makes it the one
  // before the last.
  const auto list = [&](Visitor& v, const std::string& move, bool last) {
    const std::string page = v.Get("/log/board?action=list" + move).body;
    const std::size_t at = page.find("margin-top:-18px>");
    if (at == std::string::npos) {
      ADD_FAILURE() << page;
      return 0;
    }
    const int shown = std::stoi(page.substr(at + 17));
    const int pages = std::stoi(page.substr(page.find('/', at) + 1));
    const std::vector<Row> rows = Rows(page);
    const int k = commit_of(rows, 25 * (shown - 1));
    EXPECT_EQ(pages, (k + 24) / 25);
    EXPECT_EQ(rows.size(), std::min<std::size_t>(25, k - 25 * (shown - 1)));
    EXPECT_TRUE(last ? shown >= pages - 1 : shown == 1) << shown << "/" << pages;
    return k;
  };
  const std::vector<std::function<int(Visitor&)>> checks = {
      [&](Visitor& v) {
        const std::vector<Row> rows = Rows(v.Get("/log/board").body);
        EXPECT_EQ(rows.size(), 10u);
        return commit_of(rows, 0);
      },
      [&](Visitor& v) { return list(v, "", false); },
      [&](Visitor& v) { return list(v, "&move=last", true); },
      [&](Visitor& v) {
        const std::string page = v.Get("/log/board?action=show&id=1").body;
        const std::size_t at = page.find("<b>") + 3;
        const std::string title = page.substr(at, page.find("</b>", at) - at);
        return title == "t1" ? kFirst : std::stoi(title.substr(1));
      },
  };
  std::vector<std::thread> readers;
  for (const auto& check : checks) {
    readers.emplace_back([&, check] {
      Visitor visitor(server);
      while (writing && !::testing::Test::HasFailure()) {
        const int before = committed;
        const int shown = check(visitor);
        EXPECT_GE(shown, before) << "a page older than the last commit before it was asked for";
        EXPECT_LE(shown, begun.load());
        ++pages_read;
      }
    });
  }
  writer.join();
  for (auto& reader : readers) reader.join();
  EXPECT_GE(pages_read, kPagesToRead);
}

// A node that stops answering (here: stopped by a signal) holds a write up only until its lease
// runs out; once it runs again, its next request shows the write.
TEST(SeveralNodesTest, AStoppedNodeHoldsUpAWriteOnlyUntilItsLeaseEnds) {
  if (!OnPostgres()) GTEST_SKIP() << "leases of nodes on a PostgreSQL database";
  Site site;
  support::FillEntries(site.database(), 3);
  const Server node(site);
  ASSERT_TRUE(Shows(node.Get("/log/board").body, "t3"));
  const std::string held_leases = "SELECT count(*) FROM NODE_LEASE WHERE SEEN > 0";
  for (int i = 0; i < 100 && support::Sql(site.database(), held_leases) != "1"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(kill(node.pid(), SIGSTOP), 0);
  const auto start = std::chrono::steady_clock::now();
  support::Sql(site.database(), "UPDATE MESSAGE SET TITLE = 'later' WHERE ID = 3");
  const auto held = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(kill(node.pid(), SIGCONT), 0);
  EXPECT_GT(held, std::chrono::milliseconds(500));  // the stopped node's lease was waited for
  EXPECT_LT(held, std::chrono::seconds(5));
  EXPECT_TRUE(Shows(node.Get("/log/board").body, "later"));
}

// What a restart of the database server does to the connections of a node: they all break.
// A request may fail on a broken one, once; the node then connects again.
TEST(SeveralNodesTest, ANodeConnectsAgainWhenItsConnectionsAreLost) {
  if (!OnPostgres()) GTEST_SKIP() << "a PostgreSQL server's connections";
  Site site;
  support::FillEntries(site.database(), 3);
  const Server node(site, {"--threads", "2"});
  Visitor admin(node);
  ASSERT_TRUE(IsControlPanel(admin.LogOn()));
  // As a restart of the database server does, and no request fails for it: the first that
  // needs the database after it may be a write.
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 4; ++i) EXPECT_EQ(node.Get("/log/board?action=list").status, 200);
    support::Sql(site.database(),
                 "SELECT count(pg_terminate_backend(pid, 5000)) FROM pg_stat_activity WHERE "
                 "datname = current_database() AND pid <> pg_backend_pid()");
    if (round == 1) {
      EXPECT_TRUE(Has(admin.Post(AdminPage("doadd"), Form({{"title", "t"}, {"content", "c"}})).body,
                      "成功增加日志"));
    }
    EXPECT_EQ(node.Get("/log/board?action=show&id=2").status, 200) << "round " << round;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(node.Get("/log/board?action=list").status, 200);
  }
  EXPECT_TRUE(Has(admin.Post(AdminPage("dodel"), "id=1").body, "成功删除日志"));
  EXPECT_EQ(support::Sql(site.database(), "SELECT count(*) FROM MESSAGE"), "3");
}

// A configuration that keeps the sessions in the database.
std::string SharedSessions(const Site& site) {
  const std::string file = (site.root() / "nodes.toml").string();
  std::ofstream(file) << "[database]\nurl = \"" << site.database()
                      << "\"\n[session]\nstore = \"database\"\n";
  return file;
}

// Two nodes on one PostgreSQL database with the sessions in it, as behind a load balancer: what
// one node commits shows on the very next request to the other, whose cached pages were made
// before it. A logon is a new session, which holds on either node with its page number, its
// end and a password change's end of the account's other sessions, as does a shut-out. A reader
// of the first page costs no row, and visitors beyond their budget never crowd out a logged-on
// session when the rows are swept.
TEST(SeveralNodesTest, CommitsAndSessionsHoldOnEitherNode) {
  if (!OnPostgres()) GTEST_SKIP() << "several nodes share a PostgreSQL database";
  Site site;
  support::FillEntries(site.database(), 80);
  const std::string config = SharedSessions(site);
  std::ofstream(config, std::ios::app) << "[limits]\nmax_sessions = 5\n";
  const Server a(site, {"--config", config});
  Visitor planted(a);
  planted.Get(AdminPage("add"));
  ASSERT_EQ(planted.cookie.size(), 43u) << planted.cookie;
  Visitor on_a = planted;
  ASSERT_TRUE(IsControlPanel(on_a.LogOn()));
  EXPECT_NE(on_a.cookie, planted.cookie);
  EXPECT_TRUE(IsLoginForm(planted.Post(AdminPage("dodel"), "id=").body));
  Visitor second(a, "127.0.0.5");
  ASSERT_TRUE(IsControlPanel(second.LogOn()));

  const auto rows = [&site](const std::string& where) {
    return support::Sql(site.database(), "SELECT count(*) FROM WEB_SESSION WHERE " + where);
  };
  const std::string before = rows("TRUE");
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Has(a.Get("/log/board?action=list").body, ">1/4<"));
  EXPECT_EQ(rows("TRUE"), before);
  support::Sql(site.database(),
               "INSERT INTO WEB_SESSION (ID, TIMEOUT_MINUTES, EXPIRES) SELECT md5(i::text), 600, "
               "now() + interval '10 hours' FROM generate_series(1, 20) i");
  const Server b(site, {"--config", config});  // sweeps as it starts
  for (int i = 0; i < 100 && rows("ACCOUNT IS NULL") != "5"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(rows("ACCOUNT IS NULL"), "5");
  for (const Server* node : {&a, &b, &a, &b}) {  // both nodes keep their pages of the first state
    EXPECT_TRUE(Shows(node->Get("/log/board").body, "t80"));
    EXPECT_TRUE(Shows(node->Get("/log/board?action=list").body, "t80"));
  }
  // One page has one tag on every node: a cache that revalidates on either gets a 304.
  const std::string tag = a.Get("/log/board").Header("etag");
  EXPECT_EQ(b.Get("/log/board", "If-None-Match: " + tag + "\r\n").status, 304);
  Visitor on_b(b);
  on_b.cookie = on_a.cookie;
  EXPECT_TRUE(IsControlPanel(on_b.Post(AdminPage("dodel"), "id=").body));
  EXPECT_TRUE(IsLoginForm(Visitor(b).Post(AdminPage("dodel"), "id=").body));
  ASSERT_TRUE(Has(on_a.Post(AdminPage("doadd"), Form({{"title", "fromA"}, {"content", "c"}})).body,
                  "成功增加日志"));
  EXPECT_TRUE(Shows(b.Get("/log/board").body, "fromA"));
  EXPECT_TRUE(Shows(b.Get("/log/board?action=list").body, "fromA"));
  EXPECT_TRUE(Has(b.Get("/log/board?action=show&id=81").body, "<b>fromA</b>"));
  // Deleted on the other node: gone from the first at once.
  on_b.Post(AdminPage("dodel"), "id=81");
  EXPECT_FALSE(Shows(a.Get("/log/board").body, "fromA"));
  EXPECT_FALSE(Shows(a.Get("/log/board?action=list").body, "fromA"));

  // One page number, whichever node the visitor's requests reach (the first "next" of a
  // session that has none shows the first page).
  EXPECT_TRUE(Has(on_a.Get("/log/board?action=list&move=next").body, ">1/4<"));
  EXPECT_TRUE(Has(on_b.Get("/log/board?action=list&move=next").body, ">2/4<"));
  EXPECT_TRUE(Has(on_a.Get("/log/board?action=list&move=next").body, ">3/4<"));
  EXPECT_TRUE(Has(
      on_b.Post(AdminPage("dopassword"), Form({{"password", "new"}, {"chkpassword", "new"}})).body,
      "密码已更新成功了！"));
  EXPECT_TRUE(IsLoginForm(second.Post(AdminPage("dodel"), "id=").body));
  EXPECT_TRUE(IsControlPanel(on_a.Post(AdminPage("dodel"), "id=").body));
  // Ended on one node (a GET of a post abandons the session): ended on the other.
  on_b.Get(AdminPage("doadd&title=t&content=c"));
  EXPECT_TRUE(IsLoginForm(on_a.Post(AdminPage("dodel"), "id=").body));

  // A client guessing on both nodes in turn is shut out on every node.
  Visitor guess_a(a, "127.0.0.3"), guess_b(b, "127.0.0.3");
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(IsWrongAccount((i % 2 ? guess_a : guess_b).LogOn("admin", "wrong")));
  }
  EXPECT_TRUE(IsWrongAccount(guess_a.LogOn("admin", "new")));  // shut out, unchecked
  EXPECT_TRUE(IsWrongAccount(guess_b.LogOn("admin", "new")));
}

}  // namespace
}  // namespace tessaly::e2e
