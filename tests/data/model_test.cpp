// The paging of recordsets held against a naive model, as LevelDB's ModelDB holds its
// database: random rows, the expected answers found by plain means (slices of a vector); the
// search's own model test is search_test.cpp. On a site's file always;
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
