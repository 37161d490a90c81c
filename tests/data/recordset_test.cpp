#include "data/recordset.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/errors.h"
#include "data/database.h"
#include "support/entries.h"
#include "support/temp_dir.h"

namespace tessaly::data {
namespace {

using testing::InsertEntry;
using testing::MakeDatabase;

class RecordsetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = MakeDatabase(dir_.path());
    db_ = Database::Open(file_);
  }
  std::unique_ptr<Recordset> Newest() {
    return std::make_unique<Recordset>(
        db_->Acquire(),
        Query{"SELECT ID, TITLE, STIME FROM MESSAGE ORDER BY STIME DESC", {}, "MESSAGE", true});
  }
  void Fill(int n) {
    for (int i = 1; i <= n; ++i) {
      char stime[32];
      std::snprintf(stime, sizeof stime, "2026-01-%02d %02d:00:00", 1 + i / 24, i % 24);
      InsertEntry(file_, "t" + std::to_string(i), "c", stime);
    }
  }

  testing::TempDir dir_;
  std::string file_;
  std::shared_ptr<Database> db_;
};

TEST_F(RecordsetTest, EmptyResultHasPositionMinusOneAndIsAtEnd) {
  auto rs = Newest();
  EXPECT_EQ(rs->AbsolutePosition(), -1);
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(rs->RecordCount(), 0);
  EXPECT_EQ(rs->PageCount(), 0);
  EXPECT_THROW(rs->Field("TITLE"), DataError);
  EXPECT_THROW(rs->MoveNext(), DataError);
}

TEST_F(RecordsetTest, WalksNewestFirstWithPositions) {
  Fill(3);
  // Read in batches of the default size, and of one row at a time.
  for (std::int64_t batch : {0, 1}) {
    Recordset rs(db_->Acquire(), Query{"SELECT ID, TITLE, STIME FROM MESSAGE ORDER BY STIME DESC",
                                       {},
                                       "MESSAGE",
                                       true,
                                       batch});
    std::vector<std::string> titles;
    std::vector<std::int64_t> positions;
    while (!rs.Eof()) {
      positions.push_back(rs.AbsolutePosition());
      titles.push_back(rs.Field("title").ToText());  // names are case-insensitive
      rs.MoveNext();
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"t3", "t2", "t1"}));
    EXPECT_EQ(positions, (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(rs.AbsolutePosition(), -3);
    EXPECT_THROW(rs.Field("NOSUCH"), DataError);
  }
}

TEST_F(RecordsetTest, PagesByPageSize) {
  Fill(60);
  auto rs = Newest();
  rs->SetPageSize(25);
  EXPECT_EQ(rs->RecordCount(), 60);
  EXPECT_EQ(rs->PageCount(), 3);
  rs->SetAbsolutePage(3);
  EXPECT_EQ(rs->AbsolutePosition(), 51);
  EXPECT_EQ(rs->Field("TITLE").ToText(), "t10");
  int rows = 0;
  for (; !rs->Eof(); rs->MoveNext()) ++rows;
  EXPECT_EQ(rows, 10);
  rs->SetAbsolutePage(1);
  EXPECT_EQ(rs->Field("TITLE").ToText(), "t60");
  EXPECT_THROW(rs->SetAbsolutePage(4), DataError);
  EXPECT_THROW(rs->SetAbsolutePage(0), DataError);
  EXPECT_THROW(rs->SetPageSize(0), DataError);
}

TEST_F(RecordsetTest, NoReadStaysOpenWhileRowsAreWalked) {
  Fill(150);
  auto rs = Newest();
  // A writer and a full checkpoint get through while the recordset sits on a row: the rows
  // were read and the read ended, so the write-ahead log can always be emptied.
  InsertEntry(file_, "late", "c", "2027-01-01");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(file_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "SELECT count(*) FROM MESSAGE", nullptr, nullptr, nullptr),
            SQLITE_OK);
  int log_frames = -1, checkpointed = -1;
  EXPECT_EQ(sqlite3_wal_checkpoint_v2(other, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &log_frames,
                                      &checkpointed),
            SQLITE_OK);
  sqlite3_close(other);
  EXPECT_EQ(log_frames, 0);
  // The walk goes on across batches, in order, from the snapshot of each batch.
  std::int64_t rows = 0;
  for (; !rs->Eof(); rs->MoveNext()) {
    EXPECT_EQ(rs->AbsolutePosition(), ++rows);
  }
  EXPECT_GE(rows, 150);
}

TEST_F(RecordsetTest, RowCounterFollowsInsertsAndDeletesFromAnyTool) {
  Fill(5);
  testing::Sql(file_, "DELETE FROM MESSAGE WHERE TITLE IN ('t1', 't2')");
  auto counted = Newest();
  auto scanned = std::make_unique<Recordset>(
      db_->Acquire(), Query{"SELECT ID FROM MESSAGE WHERE ID > ?", {std::int64_t{0}}, "MESSAGE"});
  EXPECT_EQ(counted->RecordCount(), 3);
  EXPECT_EQ(scanned->RecordCount(), 3);
}

TEST_F(RecordsetTest, AddNewFillsIdAndTimeAndUpdateChangesTheCurrentRow) {
  Recordset add(db_->Acquire(), Query{"SELECT * FROM MESSAGE ORDER BY STIME DESC", {}, "MESSAGE"});
  add.AddNew();
  add.SetField("TITLE", "hello");
  add.SetField("CONTENT", "world");
  add.Update();
  add.Close();
  EXPECT_FALSE(add.IsOpen());

  Recordset edit(db_->Acquire(), Query{"SELECT * FROM MESSAGE WHERE ID = ?", {1}, "MESSAGE"});
  ASSERT_EQ(edit.AbsolutePosition(), 1);
  const std::string stime = edit.Field("STIME").ToText();
  EXPECT_EQ(stime.size(), 23u) << stime;  // YYYY-MM-DD HH:MM:SS.fff
  edit.SetField("TITLE", "changed");
  edit.Update();

  Recordset check(db_->Acquire(), Query{"SELECT * FROM MESSAGE WHERE ID = ?", {1}, "MESSAGE"});
  EXPECT_EQ(check.Field("TITLE").ToText(), "changed");
  EXPECT_EQ(check.Field("CONTENT").ToText(), "world");
  EXPECT_EQ(check.Field("STIME").ToText(), stime);
}

TEST_F(RecordsetTest, AppendChunkStoresBytesExactly) {
  const std::string bytes("GIF89a\0\x01\xff\r\n", 11);
  Recordset rs(db_->Acquire(), Query{"SELECT * FROM IMAGE WHERE NAME = ?", {"a.gif"}, "IMAGE"});
  ASSERT_EQ(rs.AbsolutePosition(), -1);
  rs.AddNew();
  rs.SetField("NAME", "a.gif");
  rs.SetField("TYPE", "image/gif");
  rs.AppendChunk("DATA", bytes.substr(0, 4));
  rs.AppendChunk("DATA", bytes.substr(4));
  rs.Update();
  Recordset read(db_->Acquire(), Query{"SELECT * FROM IMAGE WHERE NAME = ?", {"a.gif"}, "IMAGE"});
  EXPECT_EQ(read.Field("DATA").ToText(), bytes);
  EXPECT_THROW(rs.SetField("NAME; DROP TABLE IMAGE", "x"), DataError);
}

TEST_F(RecordsetTest, RequestValuesAreBoundNeverSpliced) {
  Fill(2);
  Command(db_->Acquire()).Execute("DELETE FROM MESSAGE WHERE TITLE = ?", {"t1' OR '1'='1"});
  EXPECT_EQ(Newest()->RecordCount(), 2);
  EXPECT_EQ(Command(db_->Acquire()).Execute("DELETE FROM MESSAGE WHERE TITLE = ?", {"t1"}), 1);
}

TEST_F(RecordsetTest, ConnectionsAreReusedAfterTheRecordsetCloses) {
  Fill(1);
  for (int i = 0; i < 100; ++i) {
    auto rs = Newest();
    ASSERT_EQ(rs->Field("TITLE").ToText(), "t1");
  }
}

TEST(DatabaseTest, RefusesMissingAndForeignFiles) {
  testing::TempDir dir;
  const std::string missing = (dir.path() / "logs.mdb").string();
  try {
    Database::Open(missing);
    FAIL();
  } catch (const DataError& e) {
    EXPECT_EQ(std::string(e.what()), "no database at " + missing);
  }
  const std::string text = (dir.path() / "text.mdb").string();
  std::ofstream(text) << "this is not a database at all, just some text that is long enough";
  EXPECT_THROW(Database::Open(text), DataError);
  EXPECT_THROW(Database::Create(text), DataError);

  const std::string other = (dir.path() / "other.mdb").string();
  testing::Sql(other, "CREATE TABLE T (X)");
  EXPECT_THROW(Database::Open(other), DataError);
  EXPECT_THROW(Database::Create(other), DataError);
}

// What Open reports for `file` to a user who cannot write the file's folder. Root writes
// anywhere, so a root test run opens it in a child process as the user "nobody".
std::string OpenErrorWithoutWriteAccess(const std::string& file) {
  auto attempt = [&file]() -> std::string {
    try {
      Database::Open(file);
    } catch (const DataError& e) {
      return e.what();
    }
    return "";
  };
  if (::geteuid() != 0) return attempt();
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_fds[0]);
    std::string message = "cannot become nobody";
    if (::setgid(65534) == 0 && ::setuid(65534) == 0) message = attempt();
    ssize_t written = ::write(pipe_fds[1], message.data(), message.size());
    ::_exit(written == static_cast<ssize_t>(message.size()) ? 0 : 1);
  }
  ::close(pipe_fds[1]);
  std::string message;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, n);
  ::close(pipe_fds[0]);
  ::waitpid(child, nullptr, 0);
  return message;
}

TEST(DatabaseTest, NamesAFolderItCannotWrite) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  const std::string file = MakeDatabase(dir.path() / "log");
  fs::permissions(dir.path(), fs::perms(0755));
  fs::permissions(dir.path() / "log", fs::perms(0555));
  const std::string message = OpenErrorWithoutWriteAccess(file);
  fs::permissions(dir.path() / "log", fs::perms(0755));
  EXPECT_EQ(message, "cannot write " + file +
                         ": attempt to write a readonly database; the server needs to write the "
                         "folder of its database");
}

TEST(DatabaseTest, CreateKeepsExistingEntries) {
  testing::TempDir dir;
  const std::string file = MakeDatabase(dir.path());
  InsertEntry(file, "kept", "c", "2026-12-06 14:05:09");
  Database::Create(file);
  auto db = Database::Open(file);
  Recordset rs(db->Acquire(), Query{"SELECT * FROM MESSAGE", {}, "MESSAGE", true});
  EXPECT_EQ(rs.RecordCount(), 1);
  EXPECT_EQ(rs.Field("TITLE").ToText(), "kept");
}

TEST_F(RecordsetTest, RowAtAnOffsetAndNothingPastTheEnd) {
  for (int i = 1; i <= 7; ++i) InsertEntry(file_, "t" + std::to_string(i), "c", "2026-01-01");
  const Query ids{"SELECT ID, TITLE FROM MESSAGE WHERE ID >= ? ORDER BY ID", {2}, ""};
  auto lease = db_->Acquire();
  auto row = RowAt(*lease, ids, 3);
  ASSERT_TRUE(row);
  EXPECT_EQ((*row)[0].ToInt(), 5);
  EXPECT_EQ((*row)[1].ToText(), "t5");
  EXPECT_TRUE(RowAt(*lease, ids, 5));
  EXPECT_FALSE(RowAt(*lease, ids, 6));
}

}  // namespace
}  // namespace tessaly::data
