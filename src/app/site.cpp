#include "app/site.h"

#include <filesystem>

#include "app/progress.h"
#include "data/database.h"
#include "data/location.h"
#include "server/host_objects.h"
#include "text/visible_text.h"

namespace fs = std::filesystem;

namespace tessaly::app {

std::string DatabaseFile(const std::string& root, const server::PageConfig& page) {
  const std::string root_folder = fs::canonical(root).string();
  return data::DatabaseFileFor(root_folder, server::MapVirtualPath(root_folder, page.path, "."),
                               page.web_path.ToString());
}

std::string SiteLocation::Location() const {
  if (OnServer()) return database;
  server::PageConfig config;
  config.path = page;
  config.web_path = web_path;
  return DatabaseFile(root, config);
}

void CatchUpSearchIndex(const std::string& location) {
  auto database = data::Database::Open(location);
  Progress progress(
      [](std::int64_t done, std::int64_t total) {
        return "indexing entries for search: " + std::to_string(done) + " of " +
               std::to_string(total);
      },
      100000);
  database->CatchUpSearchIndex(*database->Acquire(), text::VisibleText, std::ref(progress));
}

}  // namespace tessaly::app
