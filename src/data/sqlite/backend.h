// The SQLite engine: a database is one file on this machine (schema.h), read through
// connections of its own process (connection.h), its newest state read from the memory that
// every commit rewrites (wal_index_watch.h), searched through an FTS5 index (search_index.h),
// copied online by `tessaly backup` (backup.h).
#ifndef TESSALY_DATA_SQLITE_BACKEND_H_
#define TESSALY_DATA_SQLITE_BACKEND_H_

#include <memory>
#include <string>

#include "data/backend.h"

namespace tessaly::data {

// The backend of the database file at `path`. Opens nothing yet.
std::unique_ptr<Backend> MakeSqliteBackend(const std::string& path);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SQLITE_BACKEND_H_
