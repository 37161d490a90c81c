// Where the pages of the public log list start, so that a page deep in a long log is read by
// an index seek and a short step instead of by stepping over every entry before it.
//
// The list's order is newest first by STIME and, among entries of equal STIME, the higher ID
// first: the order in which the STIME index (whose entries end in the row id) is read
// backwards, which is what the list has always shown.
#ifndef TESSALY_PAGES_LIST_ANCHORS_H_
#define TESSALY_PAGES_LIST_ANCHORS_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "data/database.h"
#include "data/recordset.h"
#include "data/value.h"

namespace tessaly::pages {

// The list's rows (ID, TITLE, STIME) in its order.
inline constexpr const char* kNewestEntriesSql =
    "SELECT ID, TITLE, STIME FROM MESSAGE ORDER BY STIME DESC, ID DESC";

// The first entry of every so many pages, from which a page's first row is found by stepping
// over fewer entries than lie between two anchors.
class ListAnchors {
 public:
  struct Anchor {
    data::Value stime;  // as stored, so that it compares as the list's order does
    std::int64_t id = 0;
  };

  // Reads them with a walk that steps over the STIME index inside the database, on a
  // connection inside the read transaction of the page that needs them (which then sees the
  // same state). Throws DataError.
  static ListAnchors Read(data::Connection& connection, std::int64_t rows_per_page);

  // The query of the list's rows from page `page` (from 1) on; nothing when the list has no
  // row there (the query may also give none when the page is past the last row).
  std::optional<data::Query> RowsFrom(std::int64_t page) const;

 private:
  std::int64_t rows_per_page_ = 1;
  std::vector<Anchor> anchors_;
};

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_LIST_ANCHORS_H_
