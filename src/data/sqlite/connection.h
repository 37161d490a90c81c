// The SQLite backend's connection: one handle on the database file, in WAL mode with a busy
// timeout, keeping its prepared statements so that a query costs no parse after the first time.
#ifndef TESSALY_DATA_SQLITE_CONNECTION_H_
#define TESSALY_DATA_SQLITE_CONNECTION_H_

#include <string>
#include <string_view>
#include <unordered_map>

#include "data/connection.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tessaly::data {

class SqliteConnection final : public Connection {
 public:
  explicit SqliteConnection(const std::string& path);  // throws DataError
  ~SqliteConnection() override;
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  sqlite3* handle() const { return db_; }

  // A prepared statement for `sql`, reset and unbound, owned by this connection.
  sqlite3_stmt* Prepare(const std::string& sql);

  void Query(const std::string& sql, const std::vector<Value>& params, std::vector<Row>& rows,
             std::vector<std::string>* names = nullptr) override;
  std::int64_t Execute(const std::string& sql, const std::vector<Value>& params = {}) override;
  void Begin() override;
  void Commit() override;
  void Rollback() noexcept override;
  Stamp BeginReadState(const ChangeWatch& watch) override;
  std::string InIdList(std::string_view column) const override;
  bool Reusable() const override;

 private:
  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
};

// Opens a handle with the settings every connection of the server uses. Throws DataError.
sqlite3* OpenSqliteHandle(const std::string& path, int flags);

// Runs `sql` (statements without parameters) on `db`. Throws DataError with SQLite's message,
// after "`what`: " when `what` is given.
void ExecSql(sqlite3* db, const std::string& sql, std::string_view what = {});

// The SQLite connection under `connection`. Throws DataError for another engine's.
SqliteConnection& AsSqlite(Connection& connection);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SQLITE_CONNECTION_H_
