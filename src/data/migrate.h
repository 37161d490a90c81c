// Moving a site from its SQLite file to a PostgreSQL database, for a site that grows to
// several nodes. Beside the engines' choice (open.cpp): the one other place that knows both.
#ifndef TESSALY_DATA_MIGRATE_H_
#define TESSALY_DATA_MIGRATE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tessaly::data {

struct Migrated {
  std::int64_t entries = 0, accounts = 0, pictures = 0;
};

// Copies every entry (with its ID and STIME as stored), account (the stored password as it is)
// and picture of the SQLite database `file` into the PostgreSQL database `url`, creating its
// schema, in one transaction: the target holds all of it or nothing. Refuses (DataError) a
// target that already holds an entry, an account or a picture. `progress`, when given, is
// called with what is being copied ("entries", "accounts", "pictures"), the rows done and the
// rows in all.
Migrated MigrateSite(const std::string& file, const std::string& url,
                     const std::function<void(std::string_view what, std::int64_t done,
                                              std::int64_t total)>& progress = {});

}  // namespace tessaly::data

#endif  // TESSALY_DATA_MIGRATE_H_
