// What an engine supplies so that everything above it works on any of them: connections, the
// schema, how the newest committed state is learnt, the search index, and the backup where the
// engine has one. Each engine implements it in its own folder (sqlite/, postgres/); the engine
// is chosen once, from the database's location (Backend::For), and nothing outside this folder
// names one.
#ifndef TESSALY_DATA_BACKEND_H_
#define TESSALY_DATA_BACKEND_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/change_watch.h"
#include "data/connection.h"
#include "data/search.h"

namespace boost::asio {
class io_context;
}  // namespace boost::asio

namespace tessaly::data {

class Database;
struct Query;

// Called with the units done so far and the units in all.
using ProgressFn = std::function<void(std::int64_t done, std::int64_t total)>;

struct CopyOptions {
  bool overwrite = false;  // replace an existing copy; otherwise it is refused
  ProgressFn progress;     // after each piece copied
};

// How the page requests of a serving process learn the newest committed state without asking
// the database each time: each event loop gets a gate that lets a request in with the stamp of
// a state no older than the request lent to it (StampLoan, database.h).
class RequestStamps {
 public:
  using Gate = std::function<void(std::function<void()> run)>;
  virtual ~RequestStamps() = default;
  // The gate of `loop`, which one thread runs; it may call `run` before it returns, or later.
  virtual Gate GateFor(boost::asio::io_context& loop) = 0;
  // Why the requests cannot learn the newest state the cheap way now (a database server's node
  // lease that does not hold), or "" when they can. Thread-safe, lock-free.
  virtual std::string Trouble() const = 0;
};

// The writes that waited after their commit until the other nodes had seen it, and how long
// they waited in all.
struct WriterWaits {
  std::uint64_t count = 0;
  double seconds = 0;
};

// Visitors' sessions and failed logons kept in the database, so that every node of a site sees
// the same: a visitor's page number and an administrator's logon hold on any node, and a
// client that keeps guessing is shut out on all of them. Times are the database server's.
// Sessions keep the contract of the server's session store (a session used within its time-out
// lives; SetValue and SetTimeout revive one that ended, empty); writes here change no page, so
// they leave the stamp alone. Thread-safe; every member throws DataError when the database
// cannot be reached.
class VisitorTables {
 public:
  virtual ~VisitorTables() = default;

  virtual bool Touch(std::string_view id) = 0;
  virtual void Create(std::string_view id) = 0;
  virtual std::string Value(std::string_view id, std::string_view name) = 0;
  virtual void SetValue(std::string_view id, std::string_view name, const std::string& value) = 0;
  virtual void SetTimeout(std::string_view id, int minutes) = 0;
  virtual void Remove(std::string_view id) = 0;
  // Sessions that belong to an account: started by a logon (server::SessionStore::Renew, with
  // `renewed` made by the caller), and ended together when the account's password changes.
  virtual void Renew(std::string_view id, std::string_view renewed, std::string_view account) = 0;
  virtual void EndAccount(std::string_view account, std::string_view keep) = 0;

  // Failed logons of `address` within the last `window`.
  virtual std::int64_t RecentFailures(std::string_view address, std::chrono::seconds window) = 0;
  // Notes a failure now, forgetting the address's failures older than `window`.
  virtual void RecordFailure(std::string_view address, std::chrono::seconds window) = 0;
  virtual void ForgetFailures(std::string_view address) = 0;

  // Removes the expired sessions; of the visitors' sessions those closest to expiring beyond
  // `keep`, and of the sessions that belong to accounts those beyond `keep_accounts`, so that
  // visitors never crowd out a logged-on session; and failures older than `window`. For a
  // background thread.
  virtual void Sweep(std::size_t keep, std::size_t keep_accounts, std::chrono::seconds window) = 0;
};

// What Backend::Probe reads: one row at most of the entries' table.
inline constexpr std::string_view kProbeQuery = "SELECT ID FROM MESSAGE LIMIT 1";

class Backend {
 public:
  virtual ~Backend() = default;

  // The engine that keeps the database at `location`: a PostgreSQL server for a URL
  // (IsDatabaseUrl, location.h), else an SQLite file. Connects to nothing yet.
  static std::unique_ptr<Backend> For(const std::string& location);

  // --- connections and schema
  // A new connection. Throws DataError.
  virtual std::unique_ptr<Connection> Connect() = 0;
  // Connections a process keeps open at most; 0: no bound.
  virtual std::size_t MaxConnections() const = 0;
  // Throws DataError unless the database exists and is one of ours; brings its schema up to
  // date (what an older version did not make). Messages: "no database at PATH", "PATH is not a
  // Tessaly database", or the server's complaint. `connection` is a new one of Connect().
  virtual void CheckAndUpdateSchema(Connection& connection) = 0;
  // Throws DataError("no database at PATH") before any connection when there is plainly none.
  virtual void CheckPresent() const {}
  // Creates the database's schema where it is missing; keeps every existing row. Refuses a
  // database made by another program. Throws DataError.
  virtual void Create() = 0;
  // Throws DataError unless the database answers a cheap read now, through a connection that
  // would find it gone: for a file a new one, since the pool's open connections go on reading
  // a file that was removed or replaced; for a server one of `database`'s pool.
  virtual void Probe(Database& database) = 0;

  // --- the newest committed state (change_watch.h)
  // The watch that Database::CurrentStamp reads; `database` is the one this backend serves.
  virtual std::unique_ptr<ChangeWatch> Watch(Database& database) = 0;
  // True when reading the stamp costs no round trip: a page then reads it each time rather
  // than keeping the one its request began with.
  virtual bool StampsAreFree() const = 0;
  // What a serving process holds for its requests' stamps, or null when stamps are free.
  virtual std::unique_ptr<RequestStamps> ServeRequests(const Database& database) = 0;

  // --- search (search.h)
  // One row, N: the entries that match every one of `words` (text::SearchWords), counted in
  // the index alone.
  virtual Query SearchCountQuery(const std::vector<std::string>& words) const = 0;
  // Rows `first` (from 0) to `first + rows` of those entries, newest first (ID, TITLE, STIME);
  // `total` is what SearchCountQuery gave in the same state (PageWindow, search.h).
  virtual Query SearchPageQuery(const std::vector<std::string>& words, std::int64_t first,
                                std::int64_t rows, std::int64_t total) const = 0;
  // Indexes the entries changed since the index was last brought up to date, a batch per
  // write transaction so that writers are held up only briefly. Throws DataError.
  virtual void CatchUpSearchIndex(Connection& connection, VisibleTextFn visible_text,
                                  const ProgressFn& progress) const = 0;

  // --- what one engine has and another has not
  // An online copy of the live database into the file `to` (sqlite/backup.h). Throws
  // DataError; an engine without one says what to use instead.
  virtual void Backup(const std::string& to, const CopyOptions& options) = 0;
  // The sessions and failed logons of every node, kept in `database`. Throws DataError where
  // the engine keeps none.
  virtual std::shared_ptr<VisitorTables> Visitors(std::shared_ptr<Database> database,
                                                  int default_timeout_minutes) = 0;
  // The writer's waits for the nodes where the engine has several (node_lease.h), else none.
  // Thread-safe.
  virtual std::optional<WriterWaits> WriterWaitFigures() const { return std::nullopt; }
};

}  // namespace tessaly::data

#endif  // TESSALY_DATA_BACKEND_H_
