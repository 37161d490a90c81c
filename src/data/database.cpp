#include "data/database.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>

#include "base/errors.h"
#include "data/schema.h"

namespace tessaly::data {
namespace {

// Idle connections kept per database; more are closed when returned.
constexpr std::size_t kMaxIdle = 32;
constexpr int kBusyTimeoutMs = 5000;

// The databases a thread has reached, most recent last; a few, since a server has a few pages.
constexpr std::size_t kReachedPerThread = 8;

std::uint64_t NextId() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

void Exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw DataError(std::string(sql) + ": " + sqlite3_errmsg(db));
  }
}

sqlite3* OpenHandle(const std::string& path, int flags) {
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
  return db;
}

}  // namespace

Connection::Connection(const std::string& path) : db_(OpenHandle(path, SQLITE_OPEN_READWRITE)) {}

Connection::~Connection() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

sqlite3_stmt* Connection::Prepare(const std::string& sql) {
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

Lease::Lease(std::shared_ptr<Database> owner, std::unique_ptr<Connection> connection)
    : owner_(std::move(owner)), connection_(std::move(connection)) {}

Lease::~Lease() { Release(); }

Lease& Lease::operator=(Lease&& other) noexcept {
  if (this != &other) {
    Release();
    owner_ = std::move(other.owner_);
    connection_ = std::move(other.connection_);
  }
  return *this;
}

void Lease::Release() {
  if (owner_ && connection_) owner_->Return(std::move(connection_));
  connection_.reset();
  owner_.reset();
}

Database::Database(std::string path) : path_(std::move(path)), id_(NextId()) {}

std::shared_ptr<Database> Database::Open(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw DataError("no database at " + path);
  }
  auto database = std::shared_ptr<Database>(new Database(path));
  {
    Lease lease = database->Acquire();
    CheckSchema(lease->handle(), path);
    // A file made by an older version gets what it lacks (tables, indexes, triggers).
    CreateSchema(lease->handle());
  }
  // Watched once the file is surely in WAL mode, which the schema sets.
  database->watch_ = WatchSqliteFile(path);
  return database;
}

void Database::Create(const std::string& path) {
  sqlite3* db = OpenHandle(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  try {
    sqlite3_stmt* stmt = nullptr;
    // A file with tables of another program is refused rather than mixed into.
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_schema", -1, &stmt, nullptr) !=
        SQLITE_OK) {
      CheckSchema(db, path);  // names the cause: a folder it cannot write, or not SQLite at all
      throw DataError("cannot read " + path + ": " + sqlite3_errmsg(db));
    }
    int objects = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    if (objects > 0) CheckSchema(db, path);
    CreateSchema(db);
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
}

Lease Database::Acquire() {
  std::unique_ptr<Connection> connection;
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      connection = std::move(idle_.back());
      idle_.pop_back();
    }
  }
  if (!connection) connection = std::make_unique<Connection>(path_);
  return Lease(shared_from_this(), std::move(connection));
}

void Database::Return(std::unique_ptr<Connection> connection) {
  // A connection left inside a transaction (a failed statement mid-way) is not reused.
  if (!sqlite3_get_autocommit(connection->handle())) return;
  std::lock_guard lock(mutex_);
  if (idle_.size() < kMaxIdle) idle_.push_back(std::move(connection));
}

Stamp Database::ReadOneState(const std::function<void(Connection&, const Stamp&)>& read) {
  Lease lease = Acquire();
  sqlite3* db = lease->handle();
  const Stamp before = CurrentStamp();
  Exec(db, "BEGIN");
  Stamp state;
  try {
    // The transaction's state is fixed by its first read; a stamp unchanged across that read
    // names it.
    Exec(db, "SELECT 1 FROM sqlite_schema LIMIT 1");
    if (before.known && CurrentStamp() == before) state = before;
    read(*lease, state);
    Exec(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return state;
}

Pool::Pool() : id_(NextId()) {}

Database& Pool::Reach(const std::string& path) {
  struct Reached {
    std::uint64_t pool;
    std::string path;
    Database* database;
  };
  thread_local std::vector<Reached> reached;
  for (const Reached& r : reached) {
    if (r.pool == id_ && r.path == path) return *r.database;
  }
  Database& database = *Get(path);
  if (reached.size() == kReachedPerThread) reached.erase(reached.begin());
  reached.push_back({id_, path, &database});
  return database;
}

std::shared_ptr<Database> Pool::Get(const std::string& path) {
  std::lock_guard lock(mutex_);
  auto it = databases_.find(path);
  if (it != databases_.end()) return it->second;
  auto database = Database::Open(path);
  databases_.emplace(path, database);
  return database;
}

}  // namespace tessaly::data
