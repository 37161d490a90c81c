// The program from the outside: its command line, and requests through the server, the
// component and the database and back.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

const std::string kNotFound =
    "<table border='0' width='100%' height='100%' cellspacing='0' cellpadding='0'><tr><td "
    "width='100%' align='center'><table border='1' width='300' cellspacing='0'><tr><td "
    "width='100%' bgcolor='#000080'><font color=#ffffff>日志读取错误</font></td></tr><tr><td "
    "width='100%' bgcolor='#C0C0C0' style='font-size: 14px'><p align='center'><br>该日志不存在"
    "<br><br><input type='button' value=' 关  闭 ' name='B1' onclick='javascript:window.close()' "
    "style='font-size: 12px'><br><br></td></tr></table></td></tr></table>";

class FoundationTest : public ::testing::Test {
 protected:
  FoundationTest() : server_({"--root", site_.root().string()}) {
    testing::InsertEntry(site_.database(), "第一条", "内容<br>一", "2026-12-06 14:05:09");
    testing::InsertEntry(site_.database(), "第二条", "内容二", "2026-12-07 00:00:00.000");
  }
  Site site_;
  Server server_;
};

TEST_F(FoundationTest, EntryPageAndItsNotFoundMessage) {
  HttpResponse r = server_.Get("/log/board?action=show&id=1");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("content-type"), "text/html; charset=utf-8");
  EXPECT_NE(r.body.find("<b>第一条</b><p style='font-size:16px'>内容<br>一</p><em><font "
                        "style='font-size:12px'>2026/12/6 14:05:09</font></em>"),
            std::string::npos)
      << r.body;
  EXPECT_TRUE(r.body.ends_with("</body></html>"));
  EXPECT_NE(server_.Get("/log/board?action=show&id=2").body.find(">2026/12/7</font>"),
            std::string::npos);

  for (const char* id : {"3", "-1", "abc", "", "1%20or%201=1", "1&id=2", "99999999999999999999"}) {
    r = server_.Get(std::string("/log/board?action=show&id=") + id);
    EXPECT_EQ(r.status, 200) << id;
    EXPECT_EQ(r.body, kNotFound) << id;
  }
}

TEST_F(FoundationTest, ItemLookupOrderAndDispatch) {
  // The query string comes before the form, the form before cookies.
  auto body = [&](const HttpResponse& r) { return r.body; };
  EXPECT_NE(body(server_.Post("/log/board?action=show&id=1", "id=2")).find("第一条"),
            std::string::npos);
  EXPECT_NE(body(server_.Post("/log/board", "action=show&id=2")).find("第二条"), std::string::npos);
  EXPECT_NE(body(server_.Get("/log/board?action=show", "Cookie: id=2\r\n")).find("第二条"),
            std::string::npos);
  EXPECT_NE(body(server_.Get("/log/board", "Cookie: action=show; id=1\r\n")).find("第一条"),
            std::string::npos);
  EXPECT_NE(body(server_.Get("/log/board?act%69on=sh%6Fw&id=%31")).find("第一条"),
            std::string::npos);

  // Comparisons are exact: other capitals, or the item given twice, is not "show".
  for (const char* q : {"?action=Show&id=1", "?action=SHOW&id=1", "?action=show&action=show&id=1",
                        "?action=+show&id=1", "?id=1", ""}) {
    HttpResponse r = server_.Get(std::string("/log/board") + q);
    EXPECT_EQ(r.status, 200) << q;
    EXPECT_EQ(r.body.find("第一条</b>"), std::string::npos) << q;
  }
}

TEST_F(FoundationTest, StaticFilesAreConfinedToTheSiteAndNeverTheDatabase) {
  std::ofstream(site_.root() / "index.html") << "<h1>home</h1>";
  std::ofstream(site_.root() / "log" / "style.css") << "b{}";
  std::ofstream(site_.root() / ".secret") << "x";
  EXPECT_EQ(server_.Get("/index.html").body, "<h1>home</h1>");
  HttpResponse css = server_.Get("/log/style.css");
  EXPECT_EQ(css.status, 200);
  EXPECT_EQ(css.Header("content-type").rfind("text/css", 0), 0u);

  for (const char* path :
       {"/log/logs.mdb", "/log/LOGS.MDB", "/log/logs.mdb-wal", "/log/logs.mdb-shm",
        "/log/logs.mdb-journal", "/log/logs%2emdb", "/../etc/passwd", "/log/../../etc/passwd",
        "/%2e%2e/etc/passwd", "/.secret", "/log/", "/nosuch"}) {
    HttpResponse r = server_.Get(path);
    EXPECT_TRUE(r.status == 404 || r.status == 400) << path << " " << r.status;
    EXPECT_EQ(r.body.find("SQLite"), std::string::npos) << path;
  }
}

TEST_F(FoundationTest, BadRequestsGetAClearStatusAndTheServerLivesOn) {
  EXPECT_EQ(server_.Raw("DELETE /log/board HTTP/1.1\r\nHost: x\r\n\r\n").status, 405);
  EXPECT_EQ(server_.Raw("GET /log/board?action=%zz HTTP/1.1\r\nHost: x\r\n\r\n").status, 400);
  EXPECT_EQ(server_.Raw("GARBAGE\r\n\r\n").status, 400);
  EXPECT_EQ(
      server_.Raw("GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(64 * 1024, 'a') + "\r\n\r\n")
          .status,
      431);
  EXPECT_EQ(server_
                .Raw("POST /log/board HTTP/1.1\r\nHost: x\r\nContent-Length: 999999999\r\n"
                     "Content-Type: application/x-www-form-urlencoded\r\n\r\nabc")
                .status,
            413);
  HttpResponse head =
      server_.Raw("HEAD /log/board?action=show&id=1 HTTP/1.1\r\nHost: x\r\n\r\n", true);
  EXPECT_EQ(head.status, 200);
  EXPECT_NE(head.Header("content-length"), "0");

  // Keep-alive: two answers on one connection.
  Connection c(server_.port());
  c.Send(
      "GET /log/board?action=show&id=1 HTTP/1.1\r\nHost: x\r\n\r\n"
      "GET /log/board?action=show&id=2 HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_NE(c.Read().body.find("第一条"), std::string::npos);
  EXPECT_NE(c.Read().body.find("第二条"), std::string::npos);

  EXPECT_EQ(server_.Get("/log/board?action=show&id=1").status, 200);
}

TEST_F(FoundationTest, StopsGracefullyOnSigterm) { EXPECT_EQ(server_.Stop(), 0); }

TEST(CommandLineTest, ClearErrorsAndExitStatus) {
  testing::TempDir dir;
  CommandResult r = RunTessaly({"serve", "--bogus"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("--bogus"), std::string::npos) << r.err;

  r = RunTessaly({"serve", "--root", (dir.path() / "nosuch").string(), "--listen", "127.0.0.1:0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;

  r = RunTessaly({"serve", "--root", dir.str(), "--listen", "127.0.0.1:0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no database at "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("tessaly init"), std::string::npos) << r.err;

  std::filesystem::create_directories(dir.path() / "log");
  std::ofstream(dir.path() / "log" / "logs.mdb") << "not a database";
  r = RunTessaly({"serve", "--root", dir.str(), "--listen", "127.0.0.1:0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("not a Tessaly database"), std::string::npos) << r.err;

  r = RunTessaly({"init", "--root", dir.str(), "--user", "admin"});
  EXPECT_NE(r.status, 0);

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
  r = RunTessaly(
      {"init", "--root", site.root().string(), "--user", "admin", "--generate-password"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("with password "), std::string::npos);
  Server server({"--root", site.root().string()});
  EXPECT_NE(server.Get("/log/board?action=show&id=1").body.find("kept"), std::string::npos);
}

TEST(CommandLineTest, PortInUseIsReported) {
  Site site;
  Server first({"--root", site.root().string()});
  CommandResult r = RunTessaly({"serve", "--root", site.root().string(), "--listen",
                                "127.0.0.1:" + std::to_string(first.port())});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("in use"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tessaly::e2e
