// Moving a site from its SQLite file to PostgreSQL: everything copied as stored, the pages the
// same bytes as before, and a target that holds anything refused.
#include <gtest/gtest.h>

#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

TEST(MigrateTest, CopiesEntriesAccountsAndPicturesAsStoredAndThePagesStayTheSame) {
  if (!OnPostgres()) GTEST_SKIP() << "migrates into PostgreSQL";
  testing::TempDir root;
  const std::string file = testing::MakeDatabase(root.path() / "log");
  testing::FillEntries(file, 60);
  const std::string content = "引号\"'\\ 反斜杠\r\n\x01<b>&nbsp;</b>";
  testing::Sql(file, "UPDATE MESSAGE SET CONTENT = ?, STIME = '2026-03-01 10:01:05' WHERE ID = 1",
               {content});
  testing::Sql(file, "INSERT INTO USERTB (USERNAME, PASSWORD) VALUES ('o''brien', 'clear$text')");
  const std::string bytes("GIF89a\0\xff\x01\x80", 10);
  testing::InsertPicture(file, "p.gif", "image/gif", bytes);
  testing::Sql(file, "DELETE FROM MESSAGE WHERE ID = 2");  // ids are kept, gaps and all
  testing::InsertEntry(file, "t61", "c", "2026-03-02 10:01:05.125");

  ScratchDatabase target;
  CommandResult r = RunTessaly({"migrate", "--from", root.str(), "--to", target.url()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "60 entries, 1 accounts, 1 pictures")) << r.out;

  for (const char* column : {"TITLE", "CONTENT", "STIME"}) {
    const std::string sql = std::string("SELECT ") + column + " FROM MESSAGE WHERE ID = ?";
    for (const std::string id : {"1", "30", "61"}) {
      EXPECT_EQ(testing::Sql(target.url(), sql, {id}), testing::Sql(file, sql, {id})) << column;
    }
  }
  EXPECT_EQ(testing::Sql(target.url(), "SELECT count(*) FROM MESSAGE WHERE ID = 2"), "0");
  EXPECT_EQ(testing::Sql(target.url(), "SELECT PASSWORD FROM USERTB WHERE USERNAME = 'o''brien'"),
            "clear$text");
  EXPECT_EQ(testing::Sql(target.url(), "SELECT DATA FROM IMAGE WHERE NAME = 'p.gif'"), bytes);
  EXPECT_EQ(testing::Sql(target.url(), "SELECT N FROM ROW_COUNT WHERE NAME = 'MESSAGE'"), "60");

  // The same site served from the file and from the database: the same bytes.
  Server before({"--root", root.str(), "--database", ""});
  Server after({"--root", root.str(), "--database", target.url()});
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
  EXPECT_EQ(testing::Sql(target.url(),
                         "INSERT INTO MESSAGE (TITLE, CONTENT) VALUES ('n', 'c') RETURNING ID"),
            "62");

  // Never into a database that holds anything: this one, or a site's.
  r = RunTessaly({"migrate", "--from", file, "--to", target.url()});
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Has(r.err, "already holds")) << r.err;
  EXPECT_EQ(testing::Sql(target.url(), "SELECT count(*) FROM MESSAGE"), "61");
}

}  // namespace
}  // namespace tessaly::e2e
