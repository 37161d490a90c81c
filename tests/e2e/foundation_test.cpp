// The program from the outside: its command line, and requests through the server, the
// component and the database and back.
#include <gtest/gtest.h>

#include <fstream>

#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

// Items from every collection and the files that may never be served are pinned in
// tests/server; here one of each goes through the program, which stops on SIGTERM.
TEST(FoundationTest, ItemsReachThePagesTheDatabaseIsNeverServedAndSigtermStops) {
  Site site;
  testing::InsertEntry(site.database(), "第一条", "内容<br>一", "2026-12-06 14:05:09");
  std::ofstream(site.root() / "index.html") << "<h1>home</h1>";
  Server server({"--root", site.root().string()});
  EXPECT_TRUE(Has(server.Post("/log/board", "act%69on=sh%6Fw&id=%31").body, "第一条"));
  EXPECT_TRUE(Has(server.Get("/log/board", "Cookie: action=show; id=1\r\n").body, "第一条"));
  EXPECT_EQ(server.Get("/index.html").body, "<h1>home</h1>");
  for (const char* path : {"/log/logs.mdb", "/log/LOGS.MDB", "/log/logs%2emdb"}) {
    EXPECT_EQ(server.Get(path).status, 404) << path;
  }
  EXPECT_EQ(server.Stop(), 0);
}

TEST(CommandLineTest, ClearErrorsAndExitStatus) {
  testing::TempDir dir;
  const auto serve = [&](const std::string& root, const std::string& listen = "127.0.0.1:0") {
    return RunTessaly({"serve", "--root", root, "--listen", listen});
  };
  CommandResult r = RunTessaly({"serve", "--bogus"});
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Has(r.err, "--bogus")) << r.err;
  const auto fails = [](const CommandResult& result, const std::string& reason) {
    EXPECT_EQ(result.status, 1) << reason;
    EXPECT_TRUE(Has(result.err, reason)) << result.err;
  };
  fails(serve((dir.path() / "nosuch").string()), "does not exist");
  fails(serve(dir.str()), "no database at ");
  EXPECT_TRUE(Has(serve(dir.str()).err, "tessaly init"));
  dir.Write("log/logs.mdb", "not a database");
  fails(serve(dir.str()), "not a Tessaly database");
  Site site;
  Server first({"--root", site.root().string()});
  fails(serve(site.root().string(), "127.0.0.1:" + std::to_string(first.port())), "in use");

  EXPECT_NE(RunTessaly({"init", "--root", dir.str(), "--user", "admin"}).status, 0);
  EXPECT_EQ(RunTessaly({"--version"}).status, 0);
  r = RunTessaly({"--help"});
  EXPECT_TRUE(r.status == 0 && Has(r.out, "serve")) << r.out;
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
  EXPECT_TRUE(Has(server.Get("/log/board?action=show&id=1").body, "kept"));
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
