#include "pages/list_anchors.h"

namespace tessaly::pages {
namespace {

// Rows between two anchors. Finding the next anchor steps over this many index entries inside
// the database, and a page between anchors over fewer: a few microseconds either way, while
// the anchors of a million entries take a thousand short statements.
constexpr std::int64_t kPagesPerAnchor = 40;

constexpr const char* kKeysFrom =
    "SELECT STIME, ID FROM MESSAGE WHERE (STIME, ID) <= (?, ?) ORDER BY STIME DESC, ID DESC";

}  // namespace

ListAnchors ListAnchors::Read(data::Connection& connection, std::int64_t rows_per_page) {
  ListAnchors result;
  result.rows_per_page_ = rows_per_page;
  const std::int64_t stride = rows_per_page * kPagesPerAnchor;
  auto row = data::RowAt(connection,
                         {"SELECT STIME, ID FROM MESSAGE ORDER BY STIME DESC, ID DESC", {}, ""}, 0);
  while (row) {
    result.anchors_.push_back({(*row)[0], (*row)[1].ToInt()});
    row = data::RowAt(connection, {kKeysFrom, {(*row)[0], (*row)[1]}, ""}, stride);
  }
  return result;
}

std::optional<data::Query> ListAnchors::RowsFrom(std::int64_t page) const {
  if (page < 1) return std::nullopt;
  const std::int64_t first = (page - 1) * rows_per_page_;
  const std::int64_t stride = rows_per_page_ * kPagesPerAnchor;
  const auto anchor = static_cast<std::size_t>(first / stride);
  if (anchor >= anchors_.size()) return std::nullopt;
  // The page's first row is found from the anchor before it in the same statement; past the
  // last row the comparison is with NULL and there are no rows.
  return data::Query{
      "SELECT ID, TITLE, STIME FROM MESSAGE WHERE (STIME, ID) <= (" + std::string(kKeysFrom) +
          " LIMIT 1 OFFSET ?) ORDER BY STIME DESC, ID DESC",
      {anchors_[anchor].stime, data::Value(anchors_[anchor].id), data::Value(first % stride)},
      "MESSAGE"};
}

}  // namespace tessaly::pages
