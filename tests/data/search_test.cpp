// The search index against a naive model of what a search finds: random entries and queries,
// every page walked, on an SQLite file and, when TESSALY_TEST_POSTGRES names a server, on a
// PostgreSQL database; and a large log whose oldest entries are found by short words.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>

#include "base/ascii.h"
#include "base/utf8.h"
#include "data/database.h"
#include "data/location.h"
#include "data/recordset.h"
#include "data/sqlite/connection.h"
#include "support/entries.h"
#include "support/scratch_database.h"
#include "support/temp_dir.h"
#include "text/search_terms.h"
#include "text/visible_text.h"

namespace tessaly::data {
namespace {

using Ids = std::vector<std::int64_t>;

// The databases a test runs on: a file, and a PostgreSQL database when a server is named.
class Backends {
 public:
  Backends() {
    locations_.push_back(support::MakeDatabase(dir_.path()));
    if (!support::PostgresServerUrl().empty()) {
      postgres_ = std::make_unique<support::ScratchDatabase>();
      Database::Create(postgres_->url);
      locations_.push_back(postgres_->url);
    }
  }
  const std::vector<std::string>& locations() const { return locations_; }

 private:
  support::TempDir dir_;
  std::unique_ptr<support::ScratchDatabase> postgres_;
  std::vector<std::string> locations_;
};

struct Entry {
  std::int64_t id;
  std::string title, content, stime;
};

// What a search finds, by the rule itself: every word occurs in the visible title or the
// visible content, ASCII letters in any case; newest first by STIME, then ID.
Ids ModelSearch(std::vector<Entry> entries, const std::vector<std::string>& words) {
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.stime != b.stime ? a.stime > b.stime : a.id > b.id;
  });
  Ids found;
  for (const Entry& e : entries) {
    const std::string title = ascii::ToLower(text::VisibleText(e.title));
    const std::string content = ascii::ToLower(text::VisibleText(e.content));
    bool all = true;
    for (const std::string& word : words) {
      const std::string w = ascii::ToLower(word);
      all = all && (title.find(w) != std::string::npos || content.find(w) != std::string::npos);
    }
    if (all) found.push_back(e.id);
  }
  return found;
}

// What the index finds: its count, and every page of `rows` rows walked from the first.
Ids IndexSearch(Database& db, const std::vector<std::string>& words, std::int64_t rows,
                std::int64_t* counted = nullptr) {
  PooledConnection lease = db.Acquire();
  db.CatchUpSearchIndex(*lease, text::VisibleText);
  const std::int64_t total = Recordset(*lease, db.SearchCountQuery(words)).Field("N").ToInt();
  if (counted) *counted = total;
  Ids found;
  for (std::int64_t first = 0; first < total; first += rows) {
    Recordset rs(*lease, db.SearchPageQuery(words, first, rows, total));
    std::int64_t n = 0;
    for (; !rs.Eof(); rs.MoveNext(), ++n) found.push_back(rs.Field("ID").ToInt());
    EXPECT_EQ(n, std::min(rows, total - first)) << "page from " << first;
  }
  return found;
}

TEST(SearchIndexTest, FindsWhatTheNaiveModelFindsOnEveryPage) {
  const std::vector<std::string> pieces = {
      "日",  "志",   "维",     "护",   "图", "公",   "告", "ab", "Cd", "EF", "x", " ",
      "<b>", "</b>", "&nbsp;", "<br>", "é",  "&lt;", "'",  "''", "%",  "_",  "\""};
  // "É": beyond ASCII, letters are compared exactly, though the index folds them.
  const std::vector<std::string> letters = {"日", "志", "维", "护", "图", "公", "告",
                                            "a",  "B",  "c",  "D",  "e",  "F",  "x",
                                            "é",  "É",  "<",  "'",  "%",  "_",  "\""};
  const Backends backends;
  for (const std::string& location : backends.locations()) {
    SCOPED_TRACE(location);
    std::mt19937 random(24);
    const auto pick = [&](std::size_t n) {
      return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    const auto text = [&](std::size_t longest) {
      std::string t;
      for (std::size_t n = pick(longest); n > 0; --n) t += pieces[pick(pieces.size())];
      return t;
    };
    const auto stime = [&] {  // few distinct times, so that many tie and go by id
      return "2026-0" + std::to_string(1 + pick(3)) + "-1" + std::to_string(pick(3)) + " 08:0" +
             std::to_string(pick(2)) + ":00";
    };
    std::shared_ptr<Database> db = Database::Open(location);
    std::vector<Entry> entries;
    int found_some = 0, several_pages = 0;  // the queries are not all trivial
    const auto add = [&] {
      Entry e{0, text(6), text(14), stime()};
      e.id = std::stoll(support::Sql(
          location, "INSERT INTO MESSAGE (TITLE, CONTENT, STIME) VALUES (?, ?, ?) RETURNING ID",
          {e.title, e.content, e.stime}));
      entries.push_back(e);
    };
    for (int i = 0; i < 240; ++i) add();
    for (int round = 0; round < 4; ++round) {
      // Changes made by another program between searches: new, changed and deleted entries.
      if (round > 0) {
        for (int i = 0; i < 20; ++i) add();
        for (int i = 0; i < 15; ++i) {
          Entry& e = entries[pick(entries.size())];
          e.content = text(14);
          e.stime = stime();
          support::Sql(location, "UPDATE MESSAGE SET CONTENT = ?, STIME = ? WHERE ID = ?",
                       {e.content, e.stime, std::to_string(e.id)});
        }
        for (int i = 0; i < 10; ++i) {
          const std::size_t at = pick(entries.size());
          support::Sql(location, "DELETE FROM MESSAGE WHERE ID = ?",
                       {std::to_string(entries[at].id)});
          entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(at));
        }
      }
      for (int q = 0; q < 40; ++q) {
        std::vector<std::string> words;
        for (std::size_t w = 1 + (q % 4 == 3); w > 0; --w) {  // every fourth query: two words
          std::string word;
          if (q % 2 == 0) {  // random characters
            for (std::size_t n = 1 + pick(5); n > 0; --n) word += letters[pick(letters.size())];
          } else {  // a piece of an entry's text as a reader sees it, in other capitals
            const Entry& e = entries[pick(entries.size())];
            const std::vector<std::string> in_text =
                text::SearchWords(text::VisibleText(e.content));
            if (!in_text.empty()) {
              const std::string& piece = in_text[pick(in_text.size())];
              std::size_t end = 0;  // after 1 to 5 of its characters
              for (std::size_t n = 1 + pick(5); n > 0 && end < piece.size(); --n) {
                end += utf8::SequenceLength(std::string_view(piece).substr(end));
              }
              word = piece.substr(0, end);
            }
            for (char& c : word) c = pick(2) ? ascii::ToUpper(c) : c;
          }
          if (!word.empty()) words.push_back(word);
        }
        if (words.empty()) continue;
        std::string shown;
        for (const std::string& w : words) shown += "[" + w + "]";
        const Ids expected = ModelSearch(entries, words);
        std::int64_t counted = -1;
        EXPECT_EQ(IndexSearch(*db, words, 7, &counted), expected) << shown;
        EXPECT_EQ(counted, static_cast<std::int64_t>(expected.size())) << shown;
        found_some += !expected.empty();
        several_pages += expected.size() > 14;
      }
    }
    EXPECT_GT(found_some, 60);
    EXPECT_GT(several_pages, 20);
  }
}

// A database made by an earlier version, with its trigram index and a trigger that missed
// changes of STIME, gets the new index when it is opened: the old table goes, every entry is
// indexed with progress, and a change of STIME moves an entry in the results.
TEST(SearchIndexTest, AnOlderDatabaseGetsTheIndexWhenOpened) {
  const Backends backends;
  for (const std::string& location : backends.locations()) {
    SCOPED_TRACE(location);
    for (int i = 1; i <= 5; ++i) {
      support::InsertEntry(location, "旧日志" + std::to_string(i), "c",
                           "2026-01-0" + std::to_string(i) + " 08:00:00");
    }
    const std::string older =
        "DROP TABLE SEARCH_TERMS; DELETE FROM SEARCH_PENDING; "
        "CREATE TABLE MESSAGE_SEARCH (ID BIGINT PRIMARY KEY, TEXT TEXT NOT NULL);";
    if (IsDatabaseUrl(location)) {
      support::Script(location, older);
    } else {
      sqlite3* db = OpenSqliteHandle(location, SQLITE_OPEN_READWRITE);
      ASSERT_EQ(sqlite3_exec(db,
                             "DROP TABLE SEARCH_TERMS; DROP TABLE SEARCH_ENTRY; "
                             "DELETE FROM SEARCH_PENDING; DROP TRIGGER MESSAGE_SEARCH_CHANGED; "
                             "CREATE TRIGGER MESSAGE_SEARCH_CHANGED AFTER UPDATE OF ID, TITLE, "
                             "CONTENT ON MESSAGE BEGIN SELECT 1; END; "
                             "CREATE VIRTUAL TABLE MESSAGE_SEARCH USING fts5(TEXT, tokenize = "
                             "'trigram');",
                             nullptr, nullptr, nullptr),
                SQLITE_OK);
      sqlite3_close(db);
    }
    std::shared_ptr<Database> db = Database::Open(location);
    EXPECT_EQ(support::Sql(location,
                           "SELECT count(*) FROM " +
                               std::string(IsDatabaseUrl(location) ? "pg_tables WHERE tablename"
                                                                   : "sqlite_schema WHERE name") +
                               " IN ('MESSAGE_SEARCH', 'message_search')"),
              "0");
    std::vector<std::int64_t> progress;
    db->CatchUpSearchIndex(*db->Acquire(), text::VisibleText,
                           [&](std::int64_t done, std::int64_t total) {
                             progress.push_back(done);
                             EXPECT_EQ(total, 5);
                           });
    EXPECT_EQ(progress, (std::vector<std::int64_t>{5}));
    EXPECT_EQ(IndexSearch(*db, {"日"}, 25), (Ids{5, 4, 3, 2, 1}));
    support::Sql(location, "UPDATE MESSAGE SET STIME = '2026-02-01 08:00:00' WHERE ID = 2");
    EXPECT_EQ(IndexSearch(*db, {"日"}, 25), (Ids{2, 5, 4, 3, 1}));
  }
}

// The oldest entries of a large log are found by words of one and two characters, from the
// index alone: no window of newest entries limits what a search reads.
TEST(SearchIndexTest, FindsTheOldestEntriesOfALargeLogByShortWords) {
  support::TempDir dir;
  const std::string file = support::MakeDatabase(dir.path());
  support::Script(file, R"sql(
    WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 150000)
    INSERT INTO MESSAGE (ID, TITLE, CONTENT, STIME)
    SELECT i, '网站日志第' || i || '条',
           CASE WHEN i <= 3 THEN '<b>麒麟</b>出现' ELSE '系统维护&nbsp;公告' END,
           strftime('%Y-%m-%d %H:%M:%S', '2020-01-01', '+' || i || ' minutes')
    FROM n;)sql");
  std::shared_ptr<Database> db = Database::Open(file);
  EXPECT_EQ(IndexSearch(*db, {"麒麟"}, 25), (Ids{3, 2, 1}));
  EXPECT_EQ(IndexSearch(*db, {"麟"}, 25), (Ids{3, 2, 1}));
  EXPECT_EQ(IndexSearch(*db, {"出", "第2条"}, 25), (Ids{2}));
  PooledConnection lease = db->Acquire();
  EXPECT_EQ(Recordset(*lease, db->SearchCountQuery({"维护"})).Field("N").ToInt(), 150000 - 3);
  // The last page of a word that most entries hold ends with the oldest of them.
  Recordset last(*lease, db->SearchPageQuery({"维"}, 149975, 25, 149997));
  Ids ids;
  for (; !last.Eof(); last.MoveNext()) ids.push_back(last.Field("ID").ToInt());
  ASSERT_EQ(ids.size(), 22u);
  EXPECT_EQ(ids.front(), 25);
  EXPECT_EQ(ids.back(), 4);
}

}  // namespace
}  // namespace tessaly::data
