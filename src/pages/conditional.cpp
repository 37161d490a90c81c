#include "pages/conditional.h"

namespace tessaly::pages {

bool ListsEntityTag(std::string_view if_none_match, std::string_view tag) {
  while (!if_none_match.empty()) {
    const std::size_t comma = if_none_match.find(',');
    std::string_view item = if_none_match.substr(0, comma);
    const std::size_t first = item.find_first_not_of(" \t");
    item = first == std::string_view::npos
               ? std::string_view()
               : item.substr(first, item.find_last_not_of(" \t") - first + 1);
    if (item.starts_with("W/")) item.remove_prefix(2);
    if (item == "*" || item == tag) return true;
    if (comma == std::string_view::npos) break;
    if_none_match.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace tessaly::pages
