// Where each page of the public log list starts, so that a page deep in a long log is read by
// one index seek instead of by stepping over every entry before it.
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

class ListAnchors {
 public:
  struct Anchor {
    data::Value stime;  // as stored, so that it compares as the list's order does
    std::int64_t id = 0;
  };

  // Reads the first entry of every page of `rows_per_page` entries with one walk of the STIME
  // index, on a connection inside the read transaction of the page that needs them (which
  // then sees the same state). Throws DataError.
  static ListAnchors Read(data::Connection& connection, std::int64_t rows_per_page);

  // The query of the list's rows from page `page` (from 1) on; nothing when the list has no
  // row there.
  std::optional<data::Query> RowsFrom(std::int64_t page) const;

 private:
  std::vector<Anchor> anchors_;  // of page 1, 2, ...
};

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_LIST_ANCHORS_H_
