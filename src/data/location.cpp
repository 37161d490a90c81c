#include "data/location.h"

#include <algorithm>

namespace tessaly::data {

std::string DatabaseFileFor(const std::string& root_folder, const std::string& page_folder,
                            std::string web_path) {
  if (web_path.empty()) return page_folder + "/" + kDatabaseFileName;
  std::replace(web_path.begin(), web_path.end(), '\\', '/');
  return root_folder + "/" + web_path + "/" + kDatabaseFileName;
}

std::string DisplayUrl(const std::string& url) {
  std::string shown = url;
  // user:password@ in the authority, which ends at the first '/', '?' or '#' after "//".
  if (const std::size_t scheme = shown.find("://"); scheme != std::string::npos) {
    const std::size_t start = scheme + 3;
    const std::size_t end = std::min(shown.find_first_of("/?#", start), shown.size());
    const std::size_t at = shown.rfind('@', end);
    const std::size_t colon = shown.find(':', start);
    if (at != std::string::npos && at >= start && colon < at) {
      shown.replace(colon + 1, at - colon - 1, "***");
    }
  }
  // password=... as a query parameter or a key=value pair.
  for (std::size_t from = 0; (from = shown.find("password=", from)) != std::string::npos;) {
    const bool starts_item =
        from == 0 || shown[from - 1] == '?' || shown[from - 1] == '&' || shown[from - 1] == ' ';
    from += 9;
    if (!starts_item) continue;
    const std::size_t end = std::min(shown.find_first_of("& ", from), shown.size());
    shown.replace(from, end - from, "***");
  }
  return shown;
}

std::string DisplayLocation(const std::string& location) {
  return IsDatabaseUrl(location) ? DisplayUrl(location) : location;
}

}  // namespace tessaly::data
