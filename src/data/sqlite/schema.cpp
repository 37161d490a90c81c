#include "data/sqlite/schema.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include "base/errors.h"
#include "data/sqlite/connection.h"
#include "data/sqlite/search_index.h"

namespace tessaly::data {
namespace {

// Marks the file as ours ("TSLY"), so that serve refuses any other SQLite file.
constexpr int kApplicationId = 0x54534C59;

// STIME is local time as text, "YYYY-MM-DD HH:MM:SS.fff": text order is time order, and rows
// that other tools insert without the fraction still sort and read correctly.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS MESSAGE (
  ID INTEGER PRIMARY KEY AUTOINCREMENT,
  TITLE TEXT NOT NULL DEFAULT '',
  CONTENT TEXT NOT NULL DEFAULT '',
  STIME TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'))
);
CREATE INDEX IF NOT EXISTS MESSAGE_STIME ON MESSAGE (STIME);
CREATE TABLE IF NOT EXISTS USERTB (
  USERNAME TEXT NOT NULL PRIMARY KEY,
  PASSWORD TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS IMAGE (
  ID INTEGER PRIMARY KEY AUTOINCREMENT,
  NAME TEXT NOT NULL,
  TYPE TEXT NOT NULL,
  STIME TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')),
  DATA BLOB NOT NULL DEFAULT x''
);
CREATE TABLE IF NOT EXISTS ROW_COUNT (
  NAME TEXT NOT NULL PRIMARY KEY,
  N INTEGER NOT NULL
) WITHOUT ROWID;
INSERT OR IGNORE INTO ROW_COUNT (NAME, N) SELECT 'MESSAGE', count(*) FROM MESSAGE;
INSERT OR IGNORE INTO ROW_COUNT (NAME, N) SELECT 'IMAGE', count(*) FROM IMAGE;
CREATE TRIGGER IF NOT EXISTS MESSAGE_COUNT_UP AFTER INSERT ON MESSAGE
  BEGIN UPDATE ROW_COUNT SET N = N + 1 WHERE NAME = 'MESSAGE'; END;
CREATE TRIGGER IF NOT EXISTS MESSAGE_COUNT_DOWN AFTER DELETE ON MESSAGE
  BEGIN UPDATE ROW_COUNT SET N = N - 1 WHERE NAME = 'MESSAGE'; END;
CREATE TRIGGER IF NOT EXISTS IMAGE_COUNT_UP AFTER INSERT ON IMAGE
  BEGIN UPDATE ROW_COUNT SET N = N + 1 WHERE NAME = 'IMAGE'; END;
CREATE TRIGGER IF NOT EXISTS IMAGE_COUNT_DOWN AFTER DELETE ON IMAGE
  BEGIN UPDATE ROW_COUNT SET N = N - 1 WHERE NAME = 'IMAGE'; END;
)sql";

int PragmaInt(sqlite3* db, const char* pragma) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, pragma, -1, &stmt, nullptr) != SQLITE_OK) {
    throw DataError(sqlite3_errmsg(db));
  }
  int value = 0;
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) value = sqlite3_column_int(stmt, 0);
  sqlite3_finalize(stmt);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw DataError(sqlite3_errmsg(db));
  return value;
}

bool HasIndex(sqlite3* db, const char* name) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_schema WHERE type = 'index' AND name = ?", -1,
                         &stmt, nullptr) != SQLITE_OK) {
    throw DataError(sqlite3_errmsg(db));
  }
  sqlite3_bind_text(stmt, 1, name, -1, SQLITE_STATIC);
  const int rc = sqlite3_step(stmt);
  sqlite3_finalize(stmt);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw DataError(sqlite3_errmsg(db));
  return rc == SQLITE_ROW;
}

// Picture names are unique, so that of two simultaneous uploads of one name only one is
// stored. Files made before this rule get the unique index in place of their plain one when
// they are opened. A file that already holds a name twice, or that cannot be written now, keeps
// what it has and opens as before (its pictures are served, the lowest id of a name first, and
// the upload page's own check still refuses a stored name); the index is added at the first
// open after the doubles are deleted.
void RequireUniqueImageNames(sqlite3* db) {
  if (HasIndex(db, "IMAGE_NAME_UNIQUE")) return;
  if (sqlite3_exec(db,
                   "SAVEPOINT unique_names; "
                   "CREATE UNIQUE INDEX IMAGE_NAME_UNIQUE ON IMAGE (NAME); "
                   "DROP INDEX IF EXISTS IMAGE_NAME; "
                   "RELEASE unique_names",
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_exec(db, "ROLLBACK TO unique_names; RELEASE unique_names", nullptr, nullptr, nullptr);
  }
}

}  // namespace

void CreateSqliteSchema(sqlite3* db) {
  ExecSql(db, "PRAGMA journal_mode=WAL");
  ExecSql(db, "BEGIN IMMEDIATE");
  try {
    ExecSql(db, kSchema);
    RequireUniqueImageNames(db);
    CreateSearchIndex(db);
    ExecSql(db, "PRAGMA application_id=" + std::to_string(kApplicationId));
    ExecSql(db, "PRAGMA user_version=1");
    ExecSql(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void CheckSqliteSchema(sqlite3* db, const std::string& path) {
  int id = 0;
  try {
    id = PragmaInt(db, "PRAGMA application_id");
  } catch (const DataError&) {
    // Reading a database in WAL mode needs its shared-memory index beside it, which the first
    // reader creates: a folder the server cannot write fails here, not on the first write.
    if ((sqlite3_errcode(db) & 0xff) == SQLITE_READONLY) {
      throw DataError("cannot write " + path + ": " + sqlite3_errmsg(db) +
                      "; the server needs to write the folder of its database");
    }
    throw DataError(path + " is not a Tessaly database (not an SQLite file)");
  }
  if (id != kApplicationId) throw DataError(path + " is not a Tessaly database");
  RequireUniqueImageNames(db);
}

void CheckSqliteFilePresent(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw DataError("no database at " + path);
  }
}

void CheckSqliteFile(const std::string& path) {
  CheckSqliteFilePresent(path);
  SqliteConnection connection(path);
  CheckSqliteSchema(connection.handle(), path);
  CreateSqliteSchema(connection.handle());
}

void CreateSqliteFile(const std::string& path) {
  sqlite3* db = OpenSqliteHandle(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  try {
    sqlite3_stmt* stmt = nullptr;
    // A file with tables of another program is refused rather than mixed into.
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_schema", -1, &stmt, nullptr) !=
        SQLITE_OK) {
      CheckSqliteSchema(db, path);  // names the cause: a folder it cannot write, or not SQLite
      throw DataError("cannot read " + path + ": " + sqlite3_errmsg(db));
    }
    int objects = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    if (objects > 0) CheckSqliteSchema(db, path);
    CreateSqliteSchema(db);
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
}

}  // namespace tessaly::data
