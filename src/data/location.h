// Where a page's log database lives. One rule, shared by the command line (which creates and
// checks the file before serving) and the pages (which open it), so both name one file in one
// spelling and share one pooled database.
#ifndef TESSALY_DATA_LOCATION_H_
#define TESSALY_DATA_LOCATION_H_

#include <string>

namespace tessaly::data {

// logs.mdb in the WebPath folder under the site's root folder, or beside the page when
// WebPath is empty. Backslashes in WebPath separate folders. Both folders are physical paths
// without a trailing separator; only the one that the rule uses is read.
std::string DatabaseFileFor(const std::string& root_folder, const std::string& page_folder,
                            std::string web_path);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_LOCATION_H_
