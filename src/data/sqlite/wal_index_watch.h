// The watch of an SQLite database in write-ahead-log mode (change_watch.h): the header of the
// WAL index (the "-shm" file), which every commit rewrites before it returns, read from the
// memory that SQLite itself maps. The header's format is shared by every SQLite version that
// opens the file at once, so it is read as those versions read it: two copies, equal when
// whole. A database in another journal mode gives stamps that are never known.
#ifndef TESSALY_DATA_SQLITE_WAL_INDEX_WATCH_H_
#define TESSALY_DATA_SQLITE_WAL_INDEX_WATCH_H_

#include <memory>
#include <string>

#include "data/change_watch.h"

namespace tessaly::data {

// Throws DataError when the file cannot be opened.
std::unique_ptr<ChangeWatch> WatchSqliteFile(const std::string& path);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SQLITE_WAL_INDEX_WATCH_H_
