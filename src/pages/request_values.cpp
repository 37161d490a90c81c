#include "pages/request_values.h"

#include <charconv>

namespace tessaly::pages {

std::string_view TrimSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::optional<std::int64_t> ParseWholeNumber(std::string_view text) {
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::vector<std::int64_t>> ParseIdList(std::string_view text) {
  std::vector<std::int64_t> ids;
  for (;;) {
    const std::size_t comma = text.find(',');
    auto id = ParseWholeNumber(TrimSpaces(text.substr(0, comma)));
    if (!id) return std::nullopt;
    ids.push_back(*id);
    if (comma == std::string_view::npos) return ids;
    text.remove_prefix(comma + 1);
  }
}

}  // namespace tessaly::pages
