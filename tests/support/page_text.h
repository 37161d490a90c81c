// What a test reads off a page whose bytes it does not pin: whether the page holds a text, and
// the entries that a list, a block or a result page links to, in order.
#ifndef TESSALY_TESTS_SUPPORT_PAGE_TEXT_H_
#define TESSALY_TESTS_SUPPORT_PAGE_TEXT_H_

#include <cstdint>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::support {

inline bool Has(std::string_view page, std::string_view text) {
  return page.find(text) != std::string_view::npos;
}

struct Row {
  std::int64_t id;
  std::string title;
};

inline std::vector<Row> Rows(const std::string& page) {
  static const std::regex row("href='javascript:openwin\\((\\d+)\\)'>([^<]*)</a>");
  std::vector<Row> rows;
  for (std::sregex_iterator it(page.begin(), page.end(), row), end; it != end; ++it) {
    rows.push_back({std::stoll((*it)[1]), (*it)[2]});
  }
  return rows;
}

inline std::vector<std::int64_t> Ids(const std::string& page) {
  std::vector<std::int64_t> ids;
  for (const Row& row : Rows(page)) ids.push_back(row.id);
  return ids;
}

}  // namespace tessaly::support

#endif  // TESSALY_TESTS_SUPPORT_PAGE_TEXT_H_
