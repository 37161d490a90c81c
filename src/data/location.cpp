#include "data/location.h"

#include <algorithm>

#include "data/sqlite/schema.h"

namespace tessaly::data {

std::string DatabaseFileFor(const std::string& root_folder, const std::string& page_folder,
                            std::string web_path) {
  if (web_path.empty()) return page_folder + "/" + kDatabaseFileName;
  std::replace(web_path.begin(), web_path.end(), '\\', '/');
  return root_folder + "/" + web_path + "/" + kDatabaseFileName;
}

}  // namespace tessaly::data
