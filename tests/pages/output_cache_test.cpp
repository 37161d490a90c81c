// The output cache alone (bytes, use order, states), and the public pages through it: never a
// page from before a commit that has returned, also one that was still being written when the
// page was kept; the list's order where entries share a time; the page a session chooses.
#include "pages/output_cache.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "pages/public_pages.h"
#include "support/entries.h"
#include "support/page_fixture.h"

namespace tessaly::pages {
namespace {

using testing::PageFixture;

data::Stamp StampOf(std::uint32_t n) {
  data::Stamp stamp;
  stamp.words[0] = n;
  stamp.known = true;
  return stamp;
}

TEST(OutputCacheTest, StaysWithinItsBytesDroppingTheLeastRecentlyUsed) {
  const std::string page(1000, 'x');
  OutputCache cache(5000);  // four such pages with their keys and bookkeeping
  for (const char* key : {"a", "b", "c", "d"}) cache.Store(1, StampOf(1), key, page);
  ASSERT_NE(cache.Find(1, StampOf(1), "a"), nullptr);
  cache.Store(1, StampOf(1), "e", page);
  EXPECT_LE(cache.bytes(), 5000u);
  EXPECT_EQ(cache.Find(1, StampOf(1), "b"), nullptr);  // used least recently
  EXPECT_NE(cache.Find(1, StampOf(1), "a"), nullptr);
  EXPECT_EQ(*cache.Find(1, StampOf(1), "e"), page);

  cache.Store(1, StampOf(1), "a", "small");  // a key's new text replaces the old one's bytes
  EXPECT_EQ(*cache.Find(1, StampOf(1), "a"), "small");
  cache.Store(1, StampOf(1), "huge", std::string(6000, 'x'));
  EXPECT_EQ(cache.Find(1, StampOf(1), "huge"), nullptr);
  EXPECT_NE(cache.Find(1, StampOf(1), "e"), nullptr);  // not pushed out by what is not kept
}

TEST(OutputCacheTest, ANewStateDropsThatDatabasesPagesAndAnUnknownOneKeepsNothing) {
  OutputCache cache(1 << 20);
  cache.Store(1, StampOf(1), "page", "one");
  cache.Store(2, StampOf(1), "page", "other database");
  EXPECT_EQ(cache.Find(1, StampOf(2), "page"), nullptr);
  EXPECT_EQ(cache.Find(1, StampOf(1), "page"), nullptr);  // gone, not merely hidden
  EXPECT_EQ(*cache.Find(2, StampOf(1), "page"), "other database");
  EXPECT_EQ(cache.size(), 1u);

  cache.Store(1, data::Stamp{}, "page", "unknown state");
  EXPECT_EQ(cache.Find(1, data::Stamp{}, "page"), nullptr);
  EXPECT_EQ(cache.size(), 1u);
}

// The ids of the entries a list or block shows, in order.
std::vector<std::int64_t> ShownIds(const std::string& page) {
  std::vector<std::int64_t> ids;
  const std::string row = "href='javascript:openwin(";
  for (std::size_t at = 0; (at = page.find(row, at)) != std::string::npos; at += row.size()) {
    ids.push_back(std::stoll(page.substr(at + row.size())));
  }
  return ids;
}

class CachedPagesTest : public ::testing::Test {
 protected:
  std::string Page(PageFunction function, testing::Items query = {}) {
    std::string raw;
    for (const auto& [name, value] : query) raw += (raw.empty() ? "" : "&") + name + "=" + value;
    f_.NewRequest(std::move(query), raw);
    function(f_.Context());
    return f_.host.response.body;
  }
  std::string List(const std::string& move = {}) {
    testing::Items query{{"action", "list"}};
    if (!move.empty()) query.emplace_back("move", move);
    return Page(WriteLogList, query);
  }

  PageFixture f_;
  std::string file_ = f_.MakeDatabase();
};

// A VFS over the default one whose sync of the write-ahead log waits for the test: the
// commit's frames are written, but the log's index still names the state before it. A cache
// invalidated by file events would see the write now, read the old state, and keep it past
// the commit.
class HeldSync {
 public:
  HeldSync() {
    base_ = sqlite3_vfs_find(nullptr);
    vfs_ = *base_;
    vfs_.zName = "held-sync";
    vfs_.xOpen = Open;
    sqlite3_vfs_register(&vfs_, 0);
    instance_ = this;
  }
  ~HeldSync() {
    sqlite3_vfs_unregister(&vfs_);
    instance_ = nullptr;
  }

  bool WaitUntilHeld() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return held_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  // The opened file keeps the default methods but for its sync.
  static int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out) {
    HeldSync& self = *instance_;
    const int rc = self.base_->xOpen(self.base_, name, file, flags, out);
    if (rc == SQLITE_OK && (flags & SQLITE_OPEN_WAL) && file->pMethods) {
      self.base_methods_ = file->pMethods;
      self.methods_ = *file->pMethods;
      self.methods_.xSync = Sync;
      file->pMethods = &self.methods_;
    }
    return rc;
  }
  static int Sync(sqlite3_file* file, int flags) {
    HeldSync& self = *instance_;
    {
      std::unique_lock lock(self.mutex_);
      self.held_ = true;
      self.changed_.notify_all();
      self.changed_.wait(lock, [&self] { return self.released_; });
    }
    return self.base_methods_->xSync(file, flags);
  }

  static inline HeldSync* instance_ = nullptr;
  sqlite3_vfs* base_ = nullptr;
  sqlite3_vfs vfs_{};
  const sqlite3_io_methods* base_methods_ = nullptr;
  sqlite3_io_methods methods_{};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool released_ = false;
};

TEST_F(CachedPagesTest, APageReadWhileACommitIsBeingWrittenIsNotServedAfterItReturns) {
  testing::FillEntries(file_, 12);
  Page(WriteHotNews);  // the log and its index exist before the writer opens the file
  HeldSync held;
  std::thread writer([&] {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file_.c_str(), &db, SQLITE_OPEN_READWRITE, "held-sync");
    sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    sqlite3_exec(db,
                 "INSERT INTO MESSAGE (TITLE, CONTENT, STIME) "
                 "VALUES ('committed', 'c', '2027-01-01 00:00:00')",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
  });
  EXPECT_TRUE(held.WaitUntilHeld());
  EXPECT_EQ(Page(WriteHotNews).find(">committed</a>"), std::string::npos);
  EXPECT_EQ(List().find(">committed</a>"), std::string::npos);
  EXPECT_EQ(Page(ShowLogEntry, {{"id", "13"}}).find("<b>committed</b>"), std::string::npos);
  held.Release();
  writer.join();
  EXPECT_NE(Page(WriteHotNews).find(">committed</a>"), std::string::npos);
  EXPECT_NE(List().find(">committed</a>"), std::string::npos);
  EXPECT_NE(Page(ShowLogEntry, {{"id", "13"}}).find("<b>committed</b>"), std::string::npos);
}

TEST_F(CachedPagesTest, PagesFoundByTheirAnchorsKeepTheOrderOfEntriesOfEqualTime) {
  // Runs of seven entries share a time, so that runs cross the pages' and the anchors' bounds.
  testing::Sql(file_,
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2110) "
               "INSERT INTO MESSAGE (TITLE, CONTENT, STIME) SELECT 't' || i, 'c', "
               "datetime('2026-03-01', '+' || (i / 7) || ' seconds') FROM n");
  auto expected = [&] {  // the order the list has always shown, read as it always was
    std::vector<std::int64_t> ids;
    sqlite3* db = nullptr;
    sqlite3_open(file_.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT ID FROM MESSAGE ORDER BY STIME DESC", -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(stmt, 0));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return ids;
  };
  std::vector<std::int64_t> shown = ShownIds(List());
  for (int page = 2; page <= 85; ++page) {
    const std::vector<std::int64_t> rows = ShownIds(List("next"));
    shown.insert(shown.end(), rows.begin(), rows.end());
  }
  EXPECT_EQ(shown, expected());
  // In another state the anchors are read again: an entry amid a run moves every page after it.
  testing::InsertEntry(file_, "amid", "c", "2026-03-01 00:00:04");
  const std::vector<std::int64_t> after = expected();
  auto slice = [&](std::size_t from, std::size_t to) {
    return std::vector<std::int64_t>(after.begin() + from, after.begin() + to);
  };
  EXPECT_EQ(ShownIds(List("last")), slice(2100, 2111));
  EXPECT_EQ(ShownIds(List("previous")), slice(2075, 2100));
  f_.host.session.SetValue("tPage", "42");
  EXPECT_EQ(ShownIds(List("previous")), slice(1000, 1025));
  EXPECT_EQ(ShownIds(List("previous")), slice(975, 1000));
}

TEST_F(CachedPagesTest, EachVisitorGetsThePageOfItsOwnSessionAndItsOwnLinks) {
  testing::FillEntries(file_, 60);
  EXPECT_NE(List("next").find(">1/3</div>"), std::string::npos);
  EXPECT_NE(List("next").find(">2/3</div>"), std::string::npos);
  const auto first_visitor = f_.host.session.values;

  f_.host.session.values.clear();  // another visitor, on the same thread
  EXPECT_NE(List("next").find(">1/3</div>"), std::string::npos);
  EXPECT_EQ(f_.host.session.Value("tPage"), "1");
  const std::string other_links = Page(WriteLogList, {{"action", "list"}, {"x", "1"}});
  EXPECT_NE(other_links.find("location.href='/log/board?action=list&x=1&move=first'"),
            std::string::npos);

  f_.host.session.values = first_visitor;
  const std::string third = List("next");
  EXPECT_NE(third.find(">3/3</div>"), std::string::npos);
  EXPECT_EQ(third.find("x=1"), std::string::npos);
  EXPECT_EQ(f_.host.session.Value("tPage"), "3");
}

}  // namespace
}  // namespace tessaly::pages
