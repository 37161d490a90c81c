#include "pages/list_anchors.h"

namespace tessaly::pages {

ListAnchors ListAnchors::Read(data::Connection& connection, std::int64_t rows_per_page) {
  ListAnchors result;
  const auto rows = data::EveryNthRow(
      connection, {"SELECT STIME, ID FROM MESSAGE ORDER BY STIME DESC, ID DESC", {}, "MESSAGE"},
      rows_per_page);
  result.anchors_.reserve(rows.size());
  for (const auto& row : rows) result.anchors_.push_back({row[0], row[1].ToInt()});
  return result;
}

std::optional<data::Query> ListAnchors::RowsFrom(std::int64_t page) const {
  if (page < 1 || page > static_cast<std::int64_t>(anchors_.size())) return std::nullopt;
  const Anchor& anchor = anchors_[static_cast<std::size_t>(page - 1)];
  return data::Query{
      "SELECT ID, TITLE, STIME FROM MESSAGE WHERE (STIME, ID) <= (?, ?) "
      "ORDER BY STIME DESC, ID DESC",
      {anchor.stime, data::Value(anchor.id)},
      "MESSAGE"};
}

}  // namespace tessaly::pages
