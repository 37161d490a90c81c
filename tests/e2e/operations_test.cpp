// Running a site: the command line (clear errors with their exit status, `init` on a site that
// exists, the markup converter's options, whose conversions are pinned in tests/text),
// `tessaly backup` while writers commit, `tessaly migrate` from the SQLite file to PostgreSQL,
// a PostgreSQL pool whose connections the server closed, and deploy/nginx.conf in front of the
// server.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "base/errors.h"
#include "data/database.h"
#include "e2e/harness.h"

namespace tessaly::e2e {
namespace {

TEST(CommandLineTest, ClearErrorsExitStatusAndInitOnASiteThatExists) {
  if (OnPostgres()) GTEST_SKIP() << "the command line on the site's file";
  Site site;
  support::InsertEntry(site.database(), "kept", "c", "2026-12-06 14:05:09");
  CommandResult r =
      RunTessaly(site.Command("init", {"--user", "admin", "--password-stdin"}), "new password\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const Server server(site);
  Visitor visitor(server);
  EXPECT_TRUE(IsWrongAccount(visitor.LogOn("admin", "secret")));
  EXPECT_TRUE(IsControlPanel(visitor.LogOn("admin", "new password")));
  r = RunTessaly(site.Command("init", {"--user", "admin", "--generate-password"}));
  const std::size_t at = r.out.find(" with password ");
  ASSERT_NE(at, std::string::npos) << r.out << r.err;
  EXPECT_TRUE(
      IsControlPanel(visitor.LogOn("admin", r.out.substr(at + 15, r.out.size() - at - 16))));
  EXPECT_TRUE(Has(server.Get("/log/board?action=show&id=1").body, "kept"));

  support::TempDir dir;
  dir.Write("foreign/log/logs.mdb", "not a database");
  const auto serve = [](const std::string& root, const std::string& listen = "127.0.0.1:0") {
    return std::vector<std::string>{"serve", "--root", root, "--listen", listen};
  };
  const struct {
    std::vector<std::string> args;
    int status;
    std::string reason;
  } cases[] = {
      {{"serve", "--bogus"}, 109, "--bogus"},
      {serve(dir.str() + "/nosuch"), 1, "does not exist"},
      {serve(dir.str()), 1, "no database at " + dir.str() + "/log/logs.mdb; run tessaly init"},
      {serve(dir.str() + "/foreign"), 1, "not a Tessaly database"},
      {serve(site.root().string(), "127.0.0.1:" + std::to_string(server.port())), 1, "in use"},
      {{"init", "--root", dir.str(), "--user", "admin"}, 1, "give the password"},
  };
  for (const auto& [args, status, reason] : cases) {
    r = RunTessaly(args);
    EXPECT_EQ(r.status, status) << reason;
    EXPECT_TRUE(Has(r.err, reason)) << r.err;
  }
  EXPECT_EQ(RunTessaly({"--version"}).status, 0);
  r = RunTessaly({"--help"});
  EXPECT_TRUE(r.status == 0 && Has(r.out, "serve")) << r.out;
  EXPECT_EQ(RunTessaly({"markup", "--script-name", "/news/x.asp"}, "[img a.gif]").out,
            "<img src=/news/x.asp?action=image&name=a.gif>");
  EXPECT_EQ(RunTessaly({"markup", "--reverse"}, "<b>a&nbsp;b</b><br>").out, "[b]a b[/b]\r\n");
}

TEST(BackupTest, ConsistentCopyWhileWritersRunThatServes) {
  if (OnPostgres()) GTEST_SKIP() << "copies the site's file";
  Site site;
  support::Sql(
      site.database(),
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
      "INSERT INTO MESSAGE (TITLE, CONTENT) SELECT 't' || i, printf('%.500c', 'x') FROM n");
  std::atomic<bool> stop{false};
  std::atomic<int> committed{2000};
  std::thread writer([&] {
    for (; !stop; ++committed) support::InsertEntry(site.database(), "w", "c", "2027-01-01");
  });
  while (committed < 2005) std::this_thread::yield();
  const int before = committed;
  const std::filesystem::path restored = site.root() / "restored";
  std::filesystem::create_directories(restored / "log");
  const std::string copy = (restored / "log" / "logs.mdb").string();
  CommandResult r = RunTessaly(site.Command("backup", {"--to", copy}));
  stop = true;
  writer.join();
  ASSERT_EQ(r.status, 0) << r.err;
  const int copied = std::stoi(support::Sql(copy, "SELECT count(*) FROM MESSAGE"));
  EXPECT_GE(copied, before);
  EXPECT_LE(copied, committed.load());
  // A copy under a name that the server would serve is refused inside the site's folder; a
  // database copied there by other means is never served, whatever its name.
  r = RunTessaly(site.Command("backup", {"--to", (restored / "log" / "backup.db").string()}));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "inside the site folder")) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  EXPECT_FALSE(std::filesystem::exists(restored / "log" / "backup.db"));
  std::filesystem::copy_file(copy, restored / "log" / "backup.db");
  const Server server({"serve", "--root", restored.string()});
  EXPECT_TRUE(Has(server.Get("/log/board?action=show&id=1").body, "<b>t1</b>"));
  EXPECT_EQ(server.Get("/log/backup.db").status, 404);

  // An existing file is kept unless --force; an unwritable place leaves nothing behind.
  r = RunTessaly(site.Command("backup", {"--to", copy}));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "already exists")) << r.err;
  EXPECT_EQ(RunTessaly(site.Command("backup", {"--to", copy, "--force"})).status, 0);
  r = RunTessaly(site.Command("backup", {"--to", (site.root() / "nosuch" / "copy.mdb").string()}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line
  for (const auto& entry : std::filesystem::directory_iterator(site.root())) {
    EXPECT_FALSE(Has(entry.path().filename().string(), "partial")) << entry.path();
  }
}

// Closes every session that others hold on the database at `url`, as a restart of the server
// does (this database's alone: other tests share the server); returns once they have ended.
void CloseOtherSessions(const std::string& url) {
  support::Sql(url,
               "SELECT count(pg_terminate_backend(pid, 5000)) FROM pg_stat_activity "
               "WHERE datname = current_database() AND pid <> pg_backend_pid()");
}

// A connection that the server closed while it lay in the pool is made anew before a statement
// goes out on it; a statement that may have reached the server is not sent again, and says so;
// nor is a connection made anew inside a transaction, whose earlier statements went with it.
// (A whole node through the same: SeveralNodesTest.ANodeConnectsAgainWhenItsConnectionsAreLost.)
TEST(PostgresPoolTest, ConnectionsClosedInThePoolAreMadeAnewAndNoStatementRunsTwice) {
  if (!OnPostgres()) GTEST_SKIP() << "a PostgreSQL server's connections";
  Site site;
  support::Script(site.database(), "CREATE SEQUENCE TRIES; CREATE TABLE T (X BIGINT)");
  const auto database = data::Database::Open(site.database());
  const auto backend = [&database] {
    std::vector<data::Row> rows;
    database->Acquire()->Query("SELECT pg_backend_pid()", {}, rows);
    return rows.at(0).at(0).ToInt();
  };
  const std::int64_t first = backend();
  CloseOtherSessions(site.database());
  std::int64_t second = 0;
  EXPECT_NO_THROW(second = backend());
  EXPECT_NE(second, first);

  {
    data::PooledConnection connection = database->Acquire();
    std::vector<data::Row> rows;
    try {
      connection->Query(
          "SELECT nextval('tries'), pg_terminate_backend(pg_backend_pid()), pg_sleep(10)", {},
          rows);
      ADD_FAILURE() << "the statement returned";
    } catch (const DataError& error) {
      EXPECT_TRUE(Has(error.what(), "may or may not have taken effect")) << error.what();
    }
  }
  EXPECT_EQ(support::Sql(site.database(), "SELECT last_value FROM TRIES"), "1");

  {
    data::PooledConnection connection = database->Acquire();
    connection->Begin();
    connection->Execute("INSERT INTO T (X) VALUES (1)");
    CloseOtherSessions(site.database());
    EXPECT_THROW(connection->Execute("INSERT INTO T (X) VALUES (2)"), DataError);
    connection->Rollback();
  }
  EXPECT_EQ(support::Sql(site.database(), "SELECT count(*) FROM T"), "0");
  EXPECT_NO_THROW(backend());
}

// Everything copied as stored, the pages the same bytes as before, and a target that holds
// anything refused.
TEST(MigrateTest, CopiesEntriesAccountsAndPicturesAsStoredAndThePagesStayTheSame) {
  if (!OnPostgres()) GTEST_SKIP() << "migrates into PostgreSQL";
  support::TempDir root;
  const std::string file = support::MakeDatabase(root.path() / "log");
  support::FillEntries(file, 60);
  const std::string content = "引号\"'\\ 反斜杠\r\n\x01<b>&nbsp;</b>";
  support::Sql(file, "UPDATE MESSAGE SET CONTENT = ?, STIME = '2026-03-01 10:01:05' WHERE ID = 1",
               {content});
  support::Sql(file, "INSERT INTO USERTB (USERNAME, PASSWORD) VALUES ('o''brien', 'clear$text')");
  const std::string bytes("GIF89a\0\xff\x01\x80", 10);
  support::InsertPicture(file, "p.gif", "image/gif", bytes);
  support::Sql(file, "DELETE FROM MESSAGE WHERE ID = 2");  // ids are kept, gaps and all
  support::InsertEntry(file, "t61", "c", "2026-03-02 10:01:05.125");

  ScratchDatabase target;
  CommandResult r = RunTessaly({"migrate", "--from", root.str(), "--to", target.url});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "60 entries, 1 accounts, 1 pictures")) << r.out;
  const auto both = [&](const std::string& sql, const std::string& id) {
    EXPECT_EQ(support::Sql(target.url, sql, {id}), support::Sql(file, sql, {id})) << sql << id;
  };
  for (const std::string column : {"TITLE", "CONTENT", "STIME"}) {
    for (const std::string id : {"1", "2", "30", "61"}) {
      both("SELECT " + column + " FROM MESSAGE WHERE ID = ?", id);
    }
  }
  both("SELECT PASSWORD FROM USERTB WHERE USERNAME = ?", "o'brien");
  both("SELECT DATA FROM IMAGE WHERE NAME = ?", "p.gif");
  EXPECT_EQ(support::Sql(target.url, "SELECT N FROM ROW_COUNT WHERE NAME = 'MESSAGE'"), "60");

  // The same site served from the file and from the database: the same bytes.
  const Server before({"serve", "--root", root.str()});
  const Server after({"serve", "--root", root.str(), "--database", target.url});
  Visitor reader_before(before), reader_after(after);
  for (const std::string page :
       {"/log/board", "/log/board?action=list", "/log/board?action=list&move=next",
        "/log/board?action=list&move=last", "/log/board?action=show&id=1",
        "/log/board?action=show&id=61", "/log/board?action=search&q=%E5%8F%8D%20t",
        "/log/board?action=image&name=p.gif", "/log/board?action=feed"}) {
    const HttpResponse from_file = reader_before.Get(page);
    EXPECT_EQ(from_file.status, 200) << page;
    EXPECT_EQ(reader_after.Get(page).body, from_file.body) << page;
  }
  // A new row takes an id after the copied ones.
  EXPECT_EQ(support::Sql(target.url,
                         "INSERT INTO MESSAGE (TITLE, CONTENT) VALUES ('n', 'c') RETURNING ID"),
            "62");
  // Never into a database that holds anything: this one, or a site's.
  r = RunTessaly({"migrate", "--from", file, "--to", target.url});
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Has(r.err, "already holds")) << r.err;
  EXPECT_EQ(support::Sql(target.url, "SELECT count(*) FROM MESSAGE"), "61");
}

// HTTP/1.0, so that nginx sends an included page whole rather than in chunks.
HttpResponse Get10(int port, const std::string& target) {
  return Fetch(port, "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
}

// Pages, static files and includes come through byte for byte, the database stays refused,
// and the visitor's address, never one it claims, reaches tessaly's access log, which keeps no
// password.
TEST(NginxTest, DeployedConfigurationInFront) {
  if (OnPostgres()) GTEST_SKIP() << "nginx in front of the site's file";
  if (!HaveNginx()) GTEST_SKIP() << "nginx is not installed";
  Site site;
  support::FillEntries(site.database(), 30);
  std::ofstream(site.root() / "style.css") << "b{}";
  std::ofstream(site.root() / "index.shtml")
      << "<h1>home</h1><!--#include virtual=\"/log/board?action=hotnews\" -->"
         "<!--#include virtual=\"/style.css\" -->";
  std::filesystem::copy_file(site.database(), site.root() / "log" / "LOGS.MDB.bak");
  std::filesystem::copy_file(site.database(), site.root() / "log" / "before-upgrade.MDB");
  const std::string log = (site.root() / "access.log").string();
  const std::string config = (site.root() / "tessaly.toml").string();
  std::ofstream(config) << "access_log = \"" << log << "\"\ntrusted_proxies = [\"127.0.0.1\"]\n";
  Server tessaly(site, {"--config", config});
  support::TempDir dir;
  const Nginx nginx(dir.path() / "own", Deployed(site.root(), tessaly.port(), dir.path(), false));
  for (const char* target : {"/log/board", "/log/board?action=list&move=next",
                             "/log/board?action=show&id=3", "/style.css", "/"}) {
    const HttpResponse proxied = Get10(nginx.port(), target);
    EXPECT_EQ(proxied.status, 200) << target;
    EXPECT_EQ(proxied.body, tessaly.Get(target).body) << target;
  }
  for (const char* refused : {"/log/logs.mdb", "/log/LOGS.MDB.bak", "/log/logs.mdb-wal",
                              "/log/%6Cogs.mdb", "/log/before-upgrade.MDB"}) {
    EXPECT_EQ(Get10(nginx.port(), refused).status, 404) << refused;
  }
  // nginx's own includes instead.
  const Nginx own(dir.path() / "ssi", Deployed(site.root(), tessaly.port(), dir.path(), true));
  EXPECT_EQ(Get10(own.port(), "/index.shtml").body, tessaly.Get("/index.shtml").body);

  const std::string target = "/log/board?action=admin&do=dopassword&password=s3&chkpassword=s3";
  EXPECT_EQ(
      Fetch(nginx.port(), GetRequest(target, "X-Forwarded-For: 198.51.100.66\r\n"), "127.0.0.2")
          .status,
      200);
  EXPECT_EQ(tessaly.Stop(), 0);
  const std::string logged = support::ReadFile(log);
  EXPECT_TRUE(Has(logged,
                  " 127.0.0.2 GET /log/board?action=admin&do=dopassword&password=***"
                  "&chkpassword=*** 200"))
      << logged;
  EXPECT_FALSE(Has(logged, "198.51.100.66") || Has(logged, "=s3")) << logged;
}

}  // namespace
}  // namespace tessaly::e2e
