// Connections to one log database, pooled. A database is a site's file or a database on a
// server, named by its location (location.h); its engine (backend.h) is chosen once, when it is
// opened, and everything above this layer works on either through Connection and the
// operations below. A PooledConnection is one connection lent to one user at a time; it goes
// back to the pool when it is destroyed.
#ifndef TESSALY_DATA_DATABASE_H_
#define TESSALY_DATA_DATABASE_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "data/backend.h"
#include "data/change_watch.h"
#include "data/connection.h"

namespace tessaly::data {

class Database;

// What a pool holds and how often its users waited for it, for the operator.
struct PoolFigures {
  std::size_t open = 0;  // connections open, lent or idle
  std::size_t idle = 0;
  std::size_t max_open = 0;  // 0: no bound
  std::uint64_t waits = 0;   // acquisitions that found every connection lent and waited
  double wait_seconds = 0;   // how long they waited in all
  std::optional<WriterWaits> writer_waits;  // Backend::WriterWaitFigures

  PoolFigures& operator+=(const PoolFigures& other);
};

class PooledConnection {
 public:
  PooledConnection() = default;
  PooledConnection(std::shared_ptr<Database> owner, std::unique_ptr<Connection> connection);
  ~PooledConnection();
  PooledConnection(PooledConnection&&) noexcept = default;
  PooledConnection& operator=(PooledConnection&& other) noexcept;

  Connection& operator*() const { return *connection_; }
  Connection* operator->() const { return connection_.get(); }
  explicit operator bool() const { return connection_ != nullptr; }

 private:
  void Release();
  std::shared_ptr<Database> owner_;
  std::unique_ptr<Connection> connection_;
};

class Database : public std::enable_shared_from_this<Database> {
 public:
  // Opens an existing database and checks that it is one of ours, bringing its schema up to
  // date. Throws DataError: "no database at PATH", "PATH is not a Tessaly database", or the
  // server's complaint for a URL.
  static std::shared_ptr<Database> Open(const std::string& location);

  // Creates the database's schema if needed; keeps every existing row.
  static void Create(const std::string& location);

  // Copies the live database at `location` to the file `to` (Backend::Backup). Throws
  // DataError; for a database on a server, says what to use instead.
  static void Backup(const std::string& location, const std::string& to,
                     const CopyOptions& options);

  const std::string& location() const { return location_; }

  // A connection of the pool, or a new one. A database on a server keeps at most a bounded
  // number open and waits for one to come back beyond it. Throws DataError.
  PooledConnection Acquire();

  // Throws DataError unless the database answers a cheap read now (Backend::Probe). For a
  // health check: a file is opened anew each time.
  void Probe() { backend_->Probe(*this); }
  // This database's pool as it stands, and its waits so far. Thread-safe; one short lock.
  PoolFigures Figures();

  // A number that no other Database of this process has, for keys of what is kept per database.
  std::uint64_t id() const { return id_; }

  // The stamp of the newest committed state (change_watch.h): lock-free for a file; one
  // prepared statement for a server. Never throws.
  Stamp CurrentStamp() const { return watch_->Current(); }

  // A stamp read after the request now served on this thread began: the one lent to its page
  // run (StampLoan) when there is one, else CurrentStamp(). Never throws.
  Stamp RequestStamp() const;

  // Runs `read` on a connection inside one read transaction, so that everything it reads comes
  // from one committed state, and gives it that state's stamp, also returned: known when it is
  // known exactly, otherwise not known. Throws DataError, and what `read` throws.
  Stamp ReadOneState(const std::function<void(Connection&, const Stamp& state)>& read);

  // True when CurrentStamp costs no round trip, so that a page reads it each time rather than
  // keeping the one its request began with.
  bool StampsAreFree() const { return backend_->StampsAreFree(); }

  // What a serving process holds so that its requests learn the newest state cheaply
  // (Backend::ServeRequests); null when CurrentStamp is free. Must not outlive the database.
  std::unique_ptr<RequestStamps> ServeRequests() const;

  // The search of the entries (search.h) and its index's upkeep, on a connection of this
  // database. Throws DataError.
  Query SearchCountQuery(const std::vector<std::string>& words) const;
  Query SearchPageQuery(const std::vector<std::string>& words, std::int64_t first,
                        std::int64_t rows, std::int64_t total) const;
  void CatchUpSearchIndex(Connection& connection, VisibleTextFn visible_text,
                          const ProgressFn& progress = {}) const;

  // The visitors' sessions and failed logons of every node, kept in this database. Throws
  // DataError where its engine keeps none.
  std::shared_ptr<VisitorTables> Visitors(int default_timeout_minutes);

 private:
  friend class PooledConnection;
  friend class Pool;
  // A number that no other Database or Pool of this process has.
  static std::uint64_t NextId();
  Database(std::string location, std::unique_ptr<Backend> backend);
  // Opens the database that `backend` keeps at `location`: checks it and brings its schema up
  // to date on a first connection, then watches it.
  static std::shared_ptr<Database> Start(std::string location, std::unique_ptr<Backend> backend);
  void Return(std::unique_ptr<Connection> connection);

  const std::string location_;
  const std::unique_ptr<Backend> backend_;
  const std::uint64_t id_;
  const std::size_t max_open_;  // 0: no bound
  std::unique_ptr<ChangeWatch> watch_;
  std::mutex mutex_;
  std::condition_variable returned_;
  std::size_t open_ = 0;  // lent and idle
  std::vector<std::unique_ptr<Connection>> idle_;
  std::uint64_t waits_ = 0;
  std::chrono::steady_clock::duration waited_{};
};

// Lends `stamp`, read from `database` by a read sent after the request now served on this thread
// began, to that request's page run: Database::RequestStamp gives it while the loan lasts
// instead of asking the server again. The loan ends with its scope, on the thread that made it.
class StampLoan {
 public:
  StampLoan(const Database& database, const Stamp& stamp);
  ~StampLoan();
  StampLoan(const StampLoan&) = delete;
  StampLoan& operator=(const StampLoan&) = delete;

  // The stamp lent to this thread's request for `database`, or null.
  static const Stamp* For(const Database& database);

 private:
  const Database& database_;
  const Stamp stamp_;
  const StampLoan* const outer_;
};

// Databases by location, opened on first use and kept for the life of the pool. A pool made
// with a URL serves that one database for every location it is asked for: every page of the
// server then shares it. (Defined with Open, where the engines are chosen.)
class Pool {
 public:
  explicit Pool(std::string url = {});

  // Throws DataError as Database::Open does.
  std::shared_ptr<Database> Get(const std::string& path);

  // The same database as Get, for the per-request path: once a thread has reached `path`, it
  // finds it again without taking the pool's lock. Valid while the pool lives.
  Database& Reach(const std::string& path);

  // The figures of every database opened, added up.
  PoolFigures Figures();

 private:
  const std::uint64_t id_;
  const std::string url_;
  std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<Database>> databases_;
};

}  // namespace tessaly::data

#endif  // TESSALY_DATA_DATABASE_H_
