#include "data/database.h"

#include <atomic>
#include <chrono>

#include "base/errors.h"
#include "data/recordset.h"

namespace tessaly::data {
namespace {

// Idle connections kept per database; more are closed when returned.
constexpr std::size_t kMaxIdle = 32;

// How long a request waits for a connection when all are lent before it fails.
constexpr auto kAcquireTimeout = std::chrono::seconds(10);

}  // namespace

std::uint64_t Database::NextId() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

PooledConnection::PooledConnection(std::shared_ptr<Database> owner,
                                   std::unique_ptr<Connection> connection)
    : owner_(std::move(owner)), connection_(std::move(connection)) {}

PooledConnection::~PooledConnection() { Release(); }

PooledConnection& PooledConnection::operator=(PooledConnection&& other) noexcept {
  if (this != &other) {
    Release();
    owner_ = std::move(other.owner_);
    connection_ = std::move(other.connection_);
  }
  return *this;
}

void PooledConnection::Release() {
  if (owner_ && connection_) owner_->Return(std::move(connection_));
  connection_.reset();
  owner_.reset();
}

Database::Database(std::string location, std::unique_ptr<Backend> backend)
    : location_(std::move(location)),
      backend_(std::move(backend)),
      id_(NextId()),
      max_open_(backend_->MaxConnections()) {}

std::shared_ptr<Database> Database::Start(std::string location, std::unique_ptr<Backend> backend) {
  backend->CheckPresent();
  auto database = std::shared_ptr<Database>(new Database(std::move(location), std::move(backend)));
  {
    PooledConnection connection = database->Acquire();
    database->backend_->CheckAndUpdateSchema(*connection);
  }
  // Watched once the schema is surely in place (a file's journal mode is one of its settings).
  database->watch_ = database->backend_->Watch(*database);
  return database;
}

PooledConnection Database::Acquire() {
  std::unique_ptr<Connection> connection;
  {
    std::unique_lock lock(mutex_);
    if (max_open_ > 0 && idle_.empty() && open_ >= max_open_) {
      ++waits_;
      const auto started = std::chrono::steady_clock::now();
      const bool came = returned_.wait_for(lock, kAcquireTimeout,
                                           [this] { return !idle_.empty() || open_ < max_open_; });
      waited_ += std::chrono::steady_clock::now() - started;
      if (!came) throw DataError("no connection to " + location_ + " came free in time");
    }
    if (!idle_.empty()) {
      connection = std::move(idle_.back());
      idle_.pop_back();
    } else {
      ++open_;  // counted before connecting, so that waiting threads see the bound
    }
  }
  if (!connection) {
    try {
      connection = backend_->Connect();
    } catch (...) {
      std::lock_guard lock(mutex_);
      --open_;
      if (max_open_ > 0) returned_.notify_one();
      throw;
    }
  }
  return PooledConnection(shared_from_this(), std::move(connection));
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
      open_ -= 1 + dropped.size();
      closing = std::move(connection);
    }
    if (max_open_ > 0) returned_.notify_all();
  }
}

PoolFigures& PoolFigures::operator+=(const PoolFigures& other) {
  open += other.open;
  idle += other.idle;
  max_open += other.max_open;
  waits += other.waits;
  wait_seconds += other.wait_seconds;
  if (other.writer_waits) {
    if (!writer_waits) writer_waits.emplace();
    writer_waits->count += other.writer_waits->count;
    writer_waits->seconds += other.writer_waits->seconds;
  }
  return *this;
}

PoolFigures Database::Figures() {
  PoolFigures figures;
  {
    std::lock_guard lock(mutex_);
    figures.open = open_;
    figures.idle = idle_.size();
    figures.waits = waits_;
    figures.wait_seconds = std::chrono::duration<double>(waited_).count();
  }
  figures.max_open = max_open_;
  figures.writer_waits = backend_->WriterWaitFigures();
  return figures;
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
  PooledConnection connection = Acquire();
  const Stamp state = connection->BeginReadState(*watch_);
  try {
    read(*connection, state);
    connection->Commit();
  } catch (...) {
    connection->Rollback();
    throw;
  }
  return state;
}

std::unique_ptr<RequestStamps> Database::ServeRequests() const {
  return backend_->ServeRequests(*this);
}

Query Database::SearchCountQuery(const std::vector<std::string>& words) const {
  return backend_->SearchCountQuery(words);
}

Query Database::SearchPageQuery(const std::vector<std::string>& words, std::int64_t first,
                                std::int64_t rows, std::int64_t total) const {
  return backend_->SearchPageQuery(words, first, rows, total);
}

void Database::CatchUpSearchIndex(Connection& connection, VisibleTextFn visible_text,
                                  const ProgressFn& progress) const {
  backend_->CatchUpSearchIndex(connection, visible_text, progress);
}

std::shared_ptr<VisitorTables> Database::Visitors(int default_timeout_minutes) {
  return backend_->Visitors(shared_from_this(), default_timeout_minutes);
}

}  // namespace tessaly::data
