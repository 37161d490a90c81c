// Where a site's database is, for the commands: the file that serve opens for a page, spelled
// as the page's requests spell it, or the database server named with --database.
#ifndef TESSALY_APP_SITE_H_
#define TESSALY_APP_SITE_H_

#include <string>

#include "server/config.h"

namespace tessaly::app {

// The database file that the page's requests will open, spelled as they spell it, so that the
// check at start-up and the requests share one pooled database. Throws when `root` is missing.
std::string DatabaseFile(const std::string& root, const server::PageConfig& page);

// The flags that name a site's database.
struct SiteLocation {
  std::string database;  // a database server's URL, which replaces the site's file
  std::string root = server::ServerConfig().root;
  std::string page = server::PageConfig().path;
  std::string web_path = server::PageConfig().web_path.ToString();

  bool OnServer() const { return !database.empty(); }
  // The URL, or the site's file as serve spells it.
  std::string Location() const;
};

// Brings the search index of the database at `location` up to date (all of a table that has
// never been indexed), showing progress, since a large table takes a while. Throws DataError.
void CatchUpSearchIndex(const std::string& location);

}  // namespace tessaly::app

#endif  // TESSALY_APP_SITE_H_
