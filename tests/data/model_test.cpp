// The search and the paging of recordsets held against naive models, as LevelDB's ModelDB
// holds its database: random entries and random queries, the expected answers found by plain
// means (substring checks on the visible text, slices of a vector). On a site's file always;
// on PostgreSQL when TESSALY_TEST_POSTGRES names a server, skipped otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "base/errors.h"
#include "data/database.h"
#include "data/recordset.h"
#include "support/entries.h"
#include "support/scratch_database.h"
#include "support/temp_dir.h"
#include "text/visible_text.h"

namespace tessaly::data {
namespace {

// An entry as the model keeps it.
struct Entry {
  std::int64_t id;
  std::string title, content, stime;
};

class ModelTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "postgres") {
      if (support::PostgresServerUrl().empty()) GTEST_SKIP() << "TESSALY_TEST_POSTGRES is not set";
      scratch_ = std::make_unique<support::ScratchDatabase>();
      location_ = scratch_->url;
      Database::Create(location_);
    } else {
      location_ = support::MakeDatabase(dir_.path());
    }
    db_ = Database::Open(location_);
  }

  // Adds an entry as another program would; the model learns its id.
  void Add(const std::string& title, const std::string& content, const std::string& stime) {
    const std::string id = support::Sql(
        location_, "INSERT INTO MESSAGE (TITLE, CONTENT, STIME) VALUES (?, ?, ?) RETURNING ID",
        {title, content, stime});
    model_.push_back({std::stoll(id), title, content, stime});
  }

  // The model's entries newest first, as every list orders them.
  std::vector<Entry> NewestFirst() const {
    std::vector<Entry> entries = model_;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      return a.stime != b.stime ? a.stime > b.stime : a.id > b.id;
    });
    return entries;
  }

  // The ids of every row of `query`, read page by page with `page_size` rows a page, each
  // row's position checked against its page.
  std::vector<std::int64_t> WalkPages(const Query& query, std::int64_t page_size) {
    Recordset rs(db_->Acquire(), query);
    rs.SetPageSize(page_size);
    std::vector<std::int64_t> ids;
    for (std::int64_t page = 1; page <= rs.PageCount(); ++page) {
      rs.SetAbsolutePage(page);
      for (std::int64_t row = 0; row < page_size && !rs.Eof(); ++row, rs.MoveNext()) {
        EXPECT_EQ(rs.AbsolutePosition(), (page - 1) * page_size + row + 1);
        ids.push_back(rs.Field("ID").ToInt());
      }
    }
    return ids;
  }

  support::TempDir dir_;
  std::unique_ptr<support::ScratchDatabase> scratch_;
  std::string location_;
  std::shared_ptr<Database> db_;
  std::vector<Entry> model_;
  // TESSALY_MODEL_SEED replays another sequence (the one of a failure, which it names).
  std::mt19937 random_{Seed()};

  static unsigned Seed() {
    const char* seed = std::getenv("TESSALY_MODEL_SEED");
    return seed ? static_cast<unsigned>(std::stoul(seed)) : 20261207u;
  }
};

INSTANTIATE_TEST_SUITE_P(Engines, ModelTest, ::testing::Values("sqlite", "postgres"),
                         [](const ::testing::TestParamInfo<std::string>& engine) {
                           return engine.param;
                         });

// A few Chinese characters, ASCII letters in both cases, a letter beyond ASCII in both cases
// (compared exactly) and characters that mean something to LIKE or to FTS5, so that random
// texts share substrings of every length; words of one to four characters, short and indexed.
const std::vector<std::string> kPieces = {"日", "志", "网", "站", "更", "新", "a", "b", "L", "o",
                                          "g",  "A",  "B",  " ",  "x",  "É",  "é", "%", "_", "\""};

std::string RandomText(std::mt19937& random, int min_pieces, int max_pieces) {
  std::uniform_int_distribution<int> length(min_pieces, max_pieces);
  std::uniform_int_distribution<std::size_t> piece(0, kPieces.size() - 1);
  std::string text;
  for (int n = length(random); n > 0; --n) text += kPieces[piece(random)];
  return text;
}

// A stored text: plain, or with markup that the reader does not see.
std::string RandomStored(std::mt19937& random) {
  const std::string plain = RandomText(random, 0, 12);
  switch (random() % 4) {
    case 0:
      return "<b>" + plain + "</b>";
    case 1:
      return plain + "<br>" + RandomText(random, 0, 4);
    default:
      return plain;
  }
}

// What a reader sees of an entry, ASCII letters folded to lower case.
std::string FoldedVisibleText(const Entry& entry) {
  return ascii::ToLower(text::VisibleText(entry.title) + "\n" + text::VisibleText(entry.content));
}

// A search finds exactly the entries whose visible text holds every word, ASCII letters in any
// case, newest first, on every page; after other programs change and delete entries too.
TEST_P(ModelTest, SearchFindsWhatPlainSubstringChecksFind) {
  std::uniform_int_distribution<int> minute(0, 9);  // few times, so that many are equal
  const auto stime = [&] {
    return "2026-03-01 10:0" + std::to_string(minute(random_)) + ":05.125";
  };
  for (int i = 0; i < 60; ++i) Add(RandomStored(random_), RandomStored(random_), stime());

  for (int round = 0; round < 2; ++round) {
    if (round == 1) {  // changes by another program, which the index must catch up with
      for (int i = 0; i < 15; ++i) {
        Entry& entry = model_[random_() % model_.size()];
        entry.content = RandomStored(random_);
        support::Sql(location_, "UPDATE MESSAGE SET CONTENT = ? WHERE ID = ?",
                     {entry.content, std::to_string(entry.id)});
      }
      for (int i = 0; i < 10; ++i) {
        const std::size_t gone = random_() % model_.size();
        support::Sql(location_, "DELETE FROM MESSAGE WHERE ID = ?",
                     {std::to_string(model_[gone].id)});
        model_.erase(model_.begin() + static_cast<std::ptrdiff_t>(gone));
      }
    }
    db_->CatchUpSearchIndex(*db_->Acquire(), text::VisibleText);
    const std::vector<Entry> newest = NewestFirst();
    int answered = 0;  // queries that found something: the model is not trivially empty
    for (int q = 0; q < 60; ++q) {
      std::vector<std::string> words;
      for (int n = 1 + static_cast<int>(random_() % 2); n > 0; --n) {
        std::string word = RandomText(random_, 1, 4);
        std::erase(word, ' ');  // the page splits queries at spaces
        if (!word.empty()) words.push_back(word);
      }
      if (words.empty()) continue;
      std::vector<std::int64_t> expected;
      for (const Entry& entry : newest) {
        const std::string visible = FoldedVisibleText(entry);
        if (std::all_of(words.begin(), words.end(), [&](const std::string& word) {
              return visible.find(ascii::ToLower(word)) != std::string::npos;
            })) {
          expected.push_back(entry.id);
        }
      }
      const Query query = db_->SearchQuery(words);
      answered += !expected.empty();
      std::string shown = "seed " + std::to_string(Seed()) + ":";
      for (const std::string& word : words) shown += " [" + word + "]";
      EXPECT_EQ(Recordset(db_->Acquire(), query).RecordCount(),
                static_cast<std::int64_t>(expected.size()))
          << shown;
      EXPECT_EQ(WalkPages(query, 1 + static_cast<std::int64_t>(random_() % 7)), expected) << shown;
    }
  }
}

// A recordset's rows, its count, its pages and the row at an offset are those of a vector of
// the same rows, whatever the page size and the batch it reads at a time.
TEST_P(ModelTest, RecordsetPagesAreSlicesOfTheRows) {
  std::uniform_int_distribution<int> minute(0, 59);
  for (int i = 0; i < 47; ++i) {
    Add("t" + std::to_string(i), "c",
        "2026-03-01 10:" + std::to_string(10 + minute(random_) % 50) + ":05.125");
  }
  const std::vector<Entry> newest = NewestFirst();
  std::vector<std::int64_t> all;
  for (const Entry& entry : newest) all.push_back(entry.id);

  for (bool whole_table : {true, false}) {
    Query query{"SELECT ID, TITLE, STIME FROM MESSAGE ORDER BY STIME DESC, ID DESC",
                {},
                "MESSAGE",
                whole_table};
    for (std::int64_t page_size = 1; page_size <= 12; ++page_size) {
      EXPECT_EQ(WalkPages(query, page_size), all) << page_size;
      Recordset rs(db_->Acquire(), query);
      rs.SetPageSize(page_size);
      EXPECT_EQ(rs.RecordCount(), static_cast<std::int64_t>(all.size()));
      EXPECT_EQ(rs.PageCount(),
                (static_cast<std::int64_t>(all.size()) + page_size - 1) / page_size);
      // A page's rows and then the rest, walked on past the page's end.
      const std::int64_t page = 1 + static_cast<std::int64_t>(random_() % rs.PageCount());
      rs.SetAbsolutePage(page);
      std::vector<std::int64_t> rest;
      for (; !rs.Eof(); rs.MoveNext()) rest.push_back(rs.Field("ID").ToInt());
      EXPECT_EQ(rest, std::vector<std::int64_t>(all.begin() + (page - 1) * page_size, all.end()));
      EXPECT_THROW(rs.SetAbsolutePage(rs.PageCount() + 1), DataError);
    }
    // Unpaged, in batches of any size.
    for (std::int64_t batch : {1, 2, 5, 46, 47, 48}) {
      query.batch_rows = batch;
      Recordset rs(db_->Acquire(), query);
      std::vector<std::int64_t> ids;
      for (; !rs.Eof(); rs.MoveNext()) {
        EXPECT_EQ(rs.AbsolutePosition(), static_cast<std::int64_t>(ids.size()) + 1);
        ids.push_back(rs.Field("ID").ToInt());
      }
      EXPECT_EQ(ids, all) << batch;
    }
    query.batch_rows = 0;
    PooledConnection connection = db_->Acquire();
    for (std::size_t offset = 0; offset <= all.size(); ++offset) {
      const auto row = RowAt(*connection, query, static_cast<std::int64_t>(offset));
      ASSERT_EQ(row.has_value(), offset < all.size()) << offset;
      if (row) {
        EXPECT_EQ((*row)[0].ToInt(), all[offset]) << offset;
      }
    }
  }
}

}  // namespace
}  // namespace tessaly::data
