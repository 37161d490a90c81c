#include "data/sqlite/connection.h"

#include <sqlite3.h>

#include "base/errors.h"
#include "data/sqlite/search_index.h"

namespace tessaly::data {
namespace {

constexpr int kBusyTimeoutMs = 5000;

void Check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
    throw DataError(std::string(what) + ": " + sqlite3_errmsg(db));
  }
}

void Bind(sqlite3_stmt* stmt, int index, const Value& value) {
  struct Visitor {
    sqlite3_stmt* s;
    int i;
    int operator()(std::monostate) const { return sqlite3_bind_null(s, i); }
    int operator()(std::int64_t v) const { return sqlite3_bind_int64(s, i, v); }
    int operator()(double v) const { return sqlite3_bind_double(s, i, v); }
    int operator()(const std::string& v) const {
      return sqlite3_bind_text64(s, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    int operator()(const Blob& v) const {
      return sqlite3_bind_blob64(s, i, v.bytes.data(), v.bytes.size(), SQLITE_TRANSIENT);
    }
  };
  Check(sqlite3_db_handle(stmt), std::visit(Visitor{stmt, index}, value.Get()),
        "cannot bind parameter");
}

Value ColumnValue(sqlite3_stmt* stmt, int i) {
  switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
      return Value(static_cast<std::int64_t>(sqlite3_column_int64(stmt, i)));
    case SQLITE_FLOAT:
      return Value(sqlite3_column_double(stmt, i));
    case SQLITE_BLOB: {
      const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt, i));
      return Value(Blob{std::string(data ? data : "", sqlite3_column_bytes(stmt, i))});
    }
    case SQLITE_NULL:
      return Value();
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      return Value(std::string(text ? text : "", sqlite3_column_bytes(stmt, i)));
    }
  }
}

}  // namespace

sqlite3* OpenSqliteHandle(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    throw DataError("cannot open " + path + ": " + message);
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);
  // Writes are rare (administration only): pay for full durability.
  sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  // Reads map the file instead of copying pages through read(), so the newest entries cost the
  // same however large the table grows; and the whole file, as far as SQLite maps at all, so
  // that a walk over an index does not copy pages after every change (which empties a
  // connection's page cache, not its map).
  sqlite3_exec(db, "PRAGMA mmap_size=2147418112", nullptr, nullptr, nullptr);
  try {
    RegisterSearchTokenizer(db);
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  return db;
}

void ExecSql(sqlite3* db, const std::string& sql, std::string_view what) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw DataError(what.empty() ? text : std::string(what) + ": " + text);
  }
}

SqliteConnection& AsSqlite(Connection& connection) {
  auto* sqlite = dynamic_cast<SqliteConnection*>(&connection);
  if (!sqlite) throw DataError("not an SQLite connection");
  return *sqlite;
}

SqliteConnection::SqliteConnection(const std::string& path)
    : db_(OpenSqliteHandle(path, SQLITE_OPEN_READWRITE)) {}

SqliteConnection::~SqliteConnection() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

sqlite3_stmt* SqliteConnection::Prepare(const std::string& sql) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) {
    sqlite3_reset(it->second);
    sqlite3_clear_bindings(it->second);
    return it->second;
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                         &stmt, nullptr) != SQLITE_OK) {
    throw DataError(std::string("cannot prepare statement: ") + sqlite3_errmsg(db_));
  }
  statements_.emplace(sql, stmt);
  return stmt;
}

void SqliteConnection::Query(const std::string& sql, const std::vector<Value>& params,
                             std::vector<Row>& rows, std::vector<std::string>* names) {
  sqlite3_stmt* stmt = Prepare(sql);
  int index = 1;
  for (const Value& p : params) Bind(stmt, index++, p);
  const int columns = sqlite3_column_count(stmt);
  if (names && names->empty()) {
    for (int i = 0; i < columns; ++i) names->emplace_back(sqlite3_column_name(stmt, i));
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    Row& row = rows.emplace_back();
    row.reserve(columns);
    for (int i = 0; i < columns; ++i) row.push_back(ColumnValue(stmt, i));
  }
  sqlite3_reset(stmt);  // ends the read before the rows are handed out
  Check(db_, rc, "cannot read rows");
}

std::int64_t SqliteConnection::Execute(const std::string& sql, const std::vector<Value>& params) {
  sqlite3_stmt* stmt = Prepare(sql);
  int index = 1;
  for (const Value& p : params) Bind(stmt, index++, p);
  int rc = sqlite3_step(stmt);
  while (rc == SQLITE_ROW) rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  Check(db_, rc, "cannot run the statement");
  return sqlite3_changes64(db_);
}

void SqliteConnection::Begin() { ExecSql(db_, "BEGIN IMMEDIATE", "BEGIN IMMEDIATE"); }
void SqliteConnection::Commit() { ExecSql(db_, "COMMIT", "COMMIT"); }
void SqliteConnection::Rollback() noexcept {
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

Stamp SqliteConnection::BeginReadState(const ChangeWatch& watch) {
  const Stamp before = watch.Current();
  ExecSql(db_, "BEGIN", "BEGIN");
  try {
    // The transaction's state is fixed by its first read; a stamp unchanged across that read
    // names it.
    const char* first_read = "SELECT 1 FROM sqlite_schema LIMIT 1";
    ExecSql(db_, first_read, first_read);
  } catch (...) {
    Rollback();
    throw;
  }
  if (before.known && watch.Current() == before) return before;
  return {};
}

std::string SqliteConnection::InIdList(std::string_view column) const {
  return std::string(column) + " IN (SELECT value FROM json_each(?))";
}

bool SqliteConnection::Reusable() const { return sqlite3_get_autocommit(db_) != 0; }

}  // namespace tessaly::data
