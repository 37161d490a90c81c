#include "data/database.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>

#include "base/errors.h"
#include "data/postgres/connection.h"
#include "data/sqlite/schema.h"
#include "data/sqlite/connection.h"

namespace tessaly::data {
namespace {

// Idle connections kept per database; more are closed when returned.
constexpr std::size_t kMaxIdle = 32;

// Connections to a PostgreSQL server, per database and process: every node of a site holds
// this many at most, so that several nodes stay within the server's max_connections (100 by
// default). A request holds two at most, and a server thread serves one request at a time.
// Each server thread holds one more for the stamps of its requests (generation_feed.h).
constexpr std::size_t kMaxPostgresConnections = 16;
// How long a request waits for a connection when all are lent before it fails.
constexpr auto kAcquireTimeout = std::chrono::seconds(10);

// The databases a thread has reached, most recent last; a few, since a server has a few pages.
constexpr std::size_t kReachedPerThread = 8;

std::uint64_t NextId() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

bool IsDatabaseUrl(std::string_view location) {
  return location.starts_with("postgresql://") || location.starts_with("postgres://");
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

Database::Database(std::string location, Engine engine, Connector connect, std::size_t max_open)
    : location_(std::move(location)),
      engine_(engine),
      id_(NextId()),
      connect_(std::move(connect)),
      max_open_(max_open) {}

std::shared_ptr<Database> Database::Open(const std::string& location) {
  if (IsDatabaseUrl(location)) {
    auto database = std::shared_ptr<Database>(new Database(
        location, Engine::kPostgres, [location] { return ConnectPostgres(location); },
        kMaxPostgresConnections));
    {
      Lease lease = database->Acquire();
      CheckPostgresSchema(*lease, location);
      CreatePostgresSchema(*lease);
    }
    database->watch_ = WatchPostgres(*database);
    return database;
  }
  struct stat st {};
  if (::stat(location.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw DataError("no database at " + location);
  }
  auto database = std::shared_ptr<Database>(new Database(
      location, Engine::kSqlite,
      [location] { return std::make_unique<SqliteConnection>(location); }, 0));
  {
    Lease lease = database->Acquire();
    sqlite3* db = AsSqlite(*lease).handle();
    CheckSchema(db, location);
    // A file made by an older version gets what it lacks (tables, indexes, triggers).
    CreateSchema(db);
  }
  // Watched once the file is surely in WAL mode, which the schema sets.
  database->watch_ = WatchSqliteFile(location);
  return database;
}

void Database::Create(const std::string& location) {
  if (IsDatabaseUrl(location)) {
    std::unique_ptr<Connection> connection = ConnectPostgres(location);
    CreatePostgresSchema(*connection);
    return;
  }
  sqlite3* db = OpenSqliteHandle(location, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  try {
    sqlite3_stmt* stmt = nullptr;
    // A file with tables of another program is refused rather than mixed into.
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_schema", -1, &stmt, nullptr) !=
        SQLITE_OK) {
      CheckSchema(db, location);  // names the cause: a folder it cannot write, or not SQLite
      throw DataError("cannot read " + location + ": " + sqlite3_errmsg(db));
    }
    int objects = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    if (objects > 0) CheckSchema(db, location);
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
    std::unique_lock lock(mutex_);
    if (max_open_ > 0 && idle_.empty()) {
      if (!returned_.wait_for(lock, kAcquireTimeout,
                              [this] { return !idle_.empty() || open_ < max_open_; })) {
        throw DataError("no connection to " + location_ + " came free in time");
      }
    }
    if (!idle_.empty()) {
      connection = std::move(idle_.back());
      idle_.pop_back();
    } else if (max_open_ > 0) {
      ++open_;  // counted before connecting, so that waiting threads see the bound
    }
  }
  if (!connection) {
    try {
      connection = connect_();
    } catch (...) {
      if (max_open_ > 0) {
        std::lock_guard lock(mutex_);
        --open_;
        returned_.notify_one();
      }
      throw;
    }
  }
  return Lease(shared_from_this(), std::move(connection));
}

void Database::Return(std::unique_ptr<Connection> connection) {
  std::unique_ptr<Connection> closing;
  std::vector<std::unique_ptr<Connection>> dropped;
  {
    std::lock_guard lock(mutex_);
    if (connection->Reusable() && idle_.size() < kMaxIdle) {
      idle_.push_back(std::move(connection));
    } else {
      // A connection left inside a transaction (a failed statement mid-way) is not reused. One
      // that lost its server means the others are likely lost too: they are closed rather than
      // failing one request each.
      if (connection->Broken()) dropped.swap(idle_);
      if (max_open_ > 0) open_ -= 1 + dropped.size();
      closing = std::move(connection);
    }
    if (max_open_ > 0) returned_.notify_all();
  }
}

namespace {
thread_local const StampLoan* current_loan = nullptr;
}  // namespace

StampLoan::StampLoan(const Database& database, const Stamp& stamp)
    : database_(database), stamp_(stamp), outer_(current_loan) {
  current_loan = this;
}

StampLoan::~StampLoan() { current_loan = outer_; }

const Stamp* StampLoan::For(const Database& database) {
  for (const StampLoan* loan = current_loan; loan; loan = loan->outer_) {
    if (&loan->database_ == &database) return &loan->stamp_;
  }
  return nullptr;
}

Stamp Database::RequestStamp() const {
  if (const Stamp* lent = StampLoan::For(*this)) return *lent;
  return CurrentStamp();
}

Stamp Database::ReadOneState(const std::function<void(Connection&, const Stamp&)>& read) {
  Lease lease = Acquire();
  const Stamp state = lease->BeginReadState(*watch_);
  try {
    read(*lease, state);
    lease->Commit();
  } catch (...) {
    lease->Rollback();
    throw;
  }
  return state;
}

Pool::Pool(std::string url) : id_(NextId()), url_(std::move(url)) {}

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
  const std::string& location = url_.empty() ? path : url_;
  std::lock_guard lock(mutex_);
  auto it = databases_.find(location);
  if (it != databases_.end()) return it->second;
  auto database = Database::Open(location);
  databases_.emplace(location, database);
  return database;
}

}  // namespace tessaly::data
