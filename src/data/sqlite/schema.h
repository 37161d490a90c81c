// The log database as an SQLite file: MESSAGE (entries), USERTB (administrators) and IMAGE
// (pictures), plus a row counter kept by triggers so that list sizes cost nothing, and the
// search index (search_index.h). The file is marked as ours, so that no other SQLite file is
// served or written into.
#ifndef TESSALY_DATA_SQLITE_SCHEMA_H_
#define TESSALY_DATA_SQLITE_SCHEMA_H_

#include <string>

struct sqlite3;

namespace tessaly::data {

// Creates whatever of the schema is missing in `db` (idempotent; never drops or changes rows),
// the search index included. Throws DataError.
void CreateSqliteSchema(sqlite3* db);

// Throws DataError with a one-line message unless `db` holds a database made by
// CreateSqliteSchema. Brings a file made by an older version up to date where it can (the
// unique index on IMAGE.NAME, which a file holding one name twice goes without); never refuses
// a file for that.
void CheckSqliteSchema(sqlite3* db, const std::string& path);

// Throws DataError("no database at PATH") unless `path` is a regular file.
void CheckSqliteFilePresent(const std::string& path);

// What opening the file for serving checks and does: present, ours, brought up to date.
void CheckSqliteFile(const std::string& path);

// Creates the file at `path` with the schema, or brings an existing one of ours up to date,
// keeping every row; refuses a file with another program's tables. Throws DataError.
void CreateSqliteFile(const std::string& path);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SQLITE_SCHEMA_H_
