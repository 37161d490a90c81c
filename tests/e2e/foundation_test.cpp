// The program from the outside: its command line, and requests through the server, the
// component and the database and back.
#include <gtest/gtest.h>

#include <fstream>

#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

class FoundationTest : public ::testing::Test {
 protected:
  FoundationTest() : server_({"--root", site_.root().string()}) {
    testing::InsertEntry(site_.database(), "第一条", "内容<br>一", "2026-12-06 14:05:09");
    testing::InsertEntry(site_.database(), "第二条", "内容二", "2026-12-07 00:00:00.000");
  }
  Site site_;
  Server server_;
};

TEST_F(FoundationTest, ItemsReachThePagesFromEveryCollection) {
  // The action and the id from the query, a posted form, a cookie, or percent-encoded.
  EXPECT_NE(server_.Get("/log/board?action=show&id=1").body.find("第一条"), std::string::npos);
  EXPECT_NE(server_.Post("/log/board", "action=show&id=2").body.find("第二条"), std::string::npos);
  EXPECT_NE(server_.Get("/log/board", "Cookie: action=show; id=1\r\n").body.find("第一条"),
            std::string::npos);
  EXPECT_NE(server_.Get("/log/board?act%69on=sh%6Fw&id=%31").body.find("第一条"),
            std::string::npos);
}

TEST_F(FoundationTest, TheDatabaseIsNeverServed) {
  std::ofstream(site_.root() / "index.html") << "<h1>home</h1>";
  EXPECT_EQ(server_.Get("/index.html").body, "<h1>home</h1>");
  for (const char* path :
       {"/log/logs.mdb", "/log/LOGS.MDB", "/log/logs.mdb-wal", "/log/logs%2emdb"}) {
    EXPECT_EQ(server_.Get(path).status, 404) << path;
  }
}

TEST_F(FoundationTest, StopsGracefullyOnSigterm) { EXPECT_EQ(server_.Stop(), 0); }

TEST(CommandLineTest, ClearErrorsAndExitStatus) {
  testing::TempDir dir;
  const auto serve = [&](const std::string& root, const std::string& listen = "127.0.0.1:0") {
    return RunTessaly({"serve", "--root", root, "--listen", listen});
  };
  CommandResult r = RunTessaly({"serve", "--bogus"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("--bogus"), std::string::npos) << r.err;

  r = serve((dir.path() / "nosuch").string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;

  r = serve(dir.str());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no database at "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("tessaly init"), std::string::npos) << r.err;

  dir.Write("log/logs.mdb", "not a database");
  r = serve(dir.str());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("not a Tessaly database"), std::string::npos) << r.err;

  Site site;
  Server first({"--root", site.root().string()});
  r = serve(site.root().string(), "127.0.0.1:" + std::to_string(first.port()));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("in use"), std::string::npos) << r.err;

  EXPECT_NE(RunTessaly({"init", "--root", dir.str(), "--user", "admin"}).status, 0);
  EXPECT_EQ(RunTessaly({"--version"}).status, 0);
  r = RunTessaly({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("serve"), std::string::npos);
}

TEST(CommandLineTest, InitKeepsEntriesAndResetsThePassword) {
  Site site;
  testing::InsertEntry(site.database(), "kept", "c", "2026-12-06 14:05:09");
  CommandResult r =
      RunTessaly({"init", "--root", site.root().string(), "--user", "admin", "--password-stdin"},
                 "new password\n");
  ASSERT_EQ(r.status, 0) << r.err;
  Server server({"--root", site.root().string()});
  Visitor visitor(server);
  EXPECT_TRUE(IsWrongAccount(LogOn(visitor, "admin", "secret")));
  EXPECT_TRUE(IsControlPanel(LogOn(visitor, "admin", "new password")));

  r = RunTessaly(
      {"init", "--root", site.root().string(), "--user", "admin", "--generate-password"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::size_t at = r.out.find(" with password ");
  ASSERT_NE(at, std::string::npos) << r.out;
  EXPECT_TRUE(
      IsControlPanel(LogOn(visitor, "admin", r.out.substr(at + 15, r.out.size() - at - 16))));
  EXPECT_NE(server.Get("/log/board?action=show&id=1").body.find("kept"), std::string::npos);
}

// What the add form would store, and what the edit form would show.
TEST(CommandLineTest, MarkupConvertsBothWaysByteForByte) {
  CommandResult r =
      RunTessaly({"markup", "--script-name", "/news/x.asp"}, "[b]粗体[/b] it's\r\n[img a.gif]\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "<b>粗体</b>&nbsp;it''s<br><img src=/news/x.asp?action=image&name=a.gif>\n");
  r = RunTessaly({"markup", "--reverse"}, "<b>a&nbsp;b</b><br>[x]");
  EXPECT_EQ(r.out, "[b]a b[/b]\r\n\\[\\x\\]\\");
}

}  // namespace
}  // namespace tessaly::e2e
