#include "data/sqlite/backend.h"

#include <sqlite3.h>

#include "base/errors.h"
#include "data/recordset.h"
#include "data/sqlite/backup.h"
#include "data/sqlite/connection.h"
#include "data/sqlite/schema.h"
#include "data/sqlite/search_index.h"
#include "data/sqlite/wal_index_watch.h"

namespace tessaly::data {
namespace {

class SqliteBackend final : public Backend {
 public:
  explicit SqliteBackend(std::string path) : path_(std::move(path)) {}

  std::unique_ptr<Connection> Connect() override {
    return std::make_unique<SqliteConnection>(path_);
  }
  std::size_t MaxConnections() const override { return 0; }
  void CheckPresent() const override { CheckSqliteFilePresent(path_); }
  void CheckAndUpdateSchema(Connection& connection) override {
    sqlite3* db = AsSqlite(connection).handle();
    CheckSqliteSchema(db, path_);
    // A file made by an older version gets what it lacks (tables, indexes, triggers).
    CreateSqliteSchema(db);
  }
  void Create() override { CreateSqliteFile(path_); }
  void Probe(Database&) override {
    std::vector<Row> rows;
    Connect()->Query(std::string(kProbeQuery), {}, rows);
  }

  // Watched once the file is surely in WAL mode, which the schema sets.
  std::unique_ptr<ChangeWatch> Watch(Database&) override { return WatchSqliteFile(path_); }
  bool StampsAreFree() const override { return true; }
  std::unique_ptr<RequestStamps> ServeRequests(const Database&) override { return nullptr; }

  Query SearchCountQuery(const std::vector<std::string>& words) const override {
    return SqliteSearchCountQuery(words);
  }
  Query SearchPageQuery(const std::vector<std::string>& words, std::int64_t first,
                        std::int64_t rows, std::int64_t total) const override {
    return SqliteSearchPageQuery(words, first, rows, total);
  }
  void CatchUpSearchIndex(Connection& connection, VisibleTextFn visible_text,
                          const ProgressFn& progress) const override {
    CatchUpSqliteSearchIndex(AsSqlite(connection), visible_text, progress);
  }

  void Backup(const std::string& to, const CopyOptions& options) override {
    BackupSqliteFile(path_, to, options);
  }
  std::shared_ptr<VisitorTables> Visitors(std::shared_ptr<Database>, int) override {
    throw DataError("sessions are kept in a PostgreSQL database only");
  }

 private:
  const std::string path_;
};

}  // namespace

std::unique_ptr<Backend> MakeSqliteBackend(const std::string& path) {
  return std::make_unique<SqliteBackend>(path);
}

}  // namespace tessaly::data
