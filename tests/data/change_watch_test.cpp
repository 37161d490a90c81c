// The stamps that caches are kept under: what changes them, what does not, and the state that
// a read inside ReadOneState is told it read.
#include "data/change_watch.h"

#include <gtest/gtest.h>

#include <vector>

#include "data/database.h"
#include "data/recordset.h"
#include "support/entries.h"
#include "support/temp_dir.h"

namespace tessaly::data {
namespace {

using testing::InsertEntry;
using testing::Sql;

class ChangeWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = testing::MakeDatabase(dir_.path());
    db_ = Database::Open(file_);
  }
  std::int64_t Count() {
    return Recordset(db_->Acquire(), {"SELECT count(*) AS N FROM MESSAGE", {}, ""})
        .Field("N")
        .ToInt();
  }

  testing::TempDir dir_;
  std::string file_;
  std::shared_ptr<Database> db_;
};

TEST_F(ChangeWatchTest, EveryCommitOfAnyConnectionGivesANewStampAndReadsNone) {
  std::vector<Stamp> seen{db_->CurrentStamp()};
  ASSERT_TRUE(seen.back().known);
  Count();
  EXPECT_EQ(db_->CurrentStamp(), seen.back());

  auto expect_new = [&](const char* what) {
    const Stamp now = db_->CurrentStamp();
    ASSERT_TRUE(now.known) << what;
    for (const Stamp& earlier : seen) EXPECT_NE(now, earlier) << what;
    seen.push_back(now);
  };
  // Another connection, as another program would write.
  InsertEntry(file_, "a", "c", "2026-01-01 00:00:00");
  expect_new("insert");
  Sql(file_, "UPDATE MESSAGE SET TITLE = 'b'");
  expect_new("update");
  Command(db_->Acquire()).Execute("DELETE FROM MESSAGE");
  expect_new("delete through the pool");
  // A checkpoint that empties the log restarts it; the commits after it must still be new.
  Sql(file_, "PRAGMA wal_checkpoint(TRUNCATE)");
  seen.push_back(db_->CurrentStamp());
  for (int i = 0; i < 3; ++i) {
    InsertEntry(file_, "again", "c", "2026-01-02 00:00:00");
    expect_new("insert after the restart");
  }
  EXPECT_EQ(Count(), 3);
  EXPECT_EQ(db_->CurrentStamp(), seen.back());
}

TEST_F(ChangeWatchTest, AReadOfOneStateIsToldThatStatesStamp) {
  InsertEntry(file_, "a", "c", "2026-01-01 00:00:00");
  const Stamp before = db_->CurrentStamp();
  std::int64_t seen_inside = -1;
  const Stamp read = db_->ReadOneState([&](Connection& connection, const Stamp& state) {
    EXPECT_EQ(state, before);
    // A commit made while the read is open is not in what it reads, nor in its stamp.
    InsertEntry(file_, "b", "c", "2026-01-02 00:00:00");
    seen_inside =
        Recordset(connection, {"SELECT count(*) AS N FROM MESSAGE", {}, ""}).Field("N").ToInt();
  });
  EXPECT_EQ(seen_inside, 1);
  EXPECT_EQ(read, before);
  EXPECT_NE(db_->CurrentStamp(), before);
  EXPECT_EQ(Count(), 2);
}

}  // namespace
}  // namespace tessaly::data
