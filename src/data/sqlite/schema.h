// The log database: one SQLite file holding MESSAGE (entries), USERTB (administrators) and
// IMAGE (pictures), plus a row counter kept by triggers so that list sizes cost nothing.
#ifndef TESSALY_DATA_SQLITE_SCHEMA_H_
#define TESSALY_DATA_SQLITE_SCHEMA_H_

#include <string>

struct sqlite3;

namespace tessaly::data {

// The database file's name inside its folder.
inline constexpr const char* kDatabaseFileName = "logs.mdb";

// Creates whatever of the schema is missing in `db` (idempotent; never drops or changes rows),
// the search index included. Throws DataError.
void CreateSchema(sqlite3* db);

// Throws DataError with a one-line message unless `db` holds a database made by CreateSchema.
// Brings a file made by an older CreateSchema up to date where it can (the unique index on
// IMAGE.NAME, which a file holding one name twice goes without); never refuses a file for that.
void CheckSchema(sqlite3* db, const std::string& path);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SQLITE_SCHEMA_H_
