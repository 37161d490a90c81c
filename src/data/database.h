// Connections to one database file, pooled. A Lease is one connection lent to one user at a
// time; it goes back to the pool when the lease ends. Connections keep their prepared
// statements, so opening a recordset costs no parse after the first time.
#ifndef TESSALY_DATA_DATABASE_H_
#define TESSALY_DATA_DATABASE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/change_watch.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tessaly::data {

class Connection {
 public:
  explicit Connection(const std::string& path);  // throws DataError
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* handle() const { return db_; }

  // A prepared statement for `sql`, reset and unbound, owned by this connection.
  sqlite3_stmt* Prepare(const std::string& sql);

 private:
  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
};

class Database;

class Lease {
 public:
  Lease() = default;
  Lease(std::shared_ptr<Database> owner, std::unique_ptr<Connection> connection);
  ~Lease();
  Lease(Lease&&) noexcept = default;
  Lease& operator=(Lease&& other) noexcept;

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
  // Opens an existing database file and checks that it is one of ours. Throws DataError:
  // "no database at PATH" or "PATH is not a Tessaly database".
  static std::shared_ptr<Database> Open(const std::string& path);

  // Creates the file (and the schema) if needed; keeps every existing row.
  static void Create(const std::string& path);

  const std::string& path() const { return path_; }
  Lease Acquire();

  // A number that no other Database of this process has, for keys of what is kept per database.
  std::uint64_t id() const { return id_; }

  // The stamp of the newest committed state (change_watch.h): lock-free, for every request.
  Stamp CurrentStamp() const { return watch_->Current(); }

  // Runs `read` on a connection inside one read transaction, so that everything it reads comes
  // from one committed state, and gives it that state's stamp, also returned: known when it is
  // known exactly (no commit became visible between the stamp and the transaction's first
  // read), otherwise not known. Throws DataError, and what `read` throws.
  Stamp ReadOneState(const std::function<void(Connection&, const Stamp& state)>& read);

 private:
  friend class Lease;
  explicit Database(std::string path);
  void Return(std::unique_ptr<Connection> connection);

  std::string path_;
  const std::uint64_t id_;
  std::unique_ptr<ChangeWatch> watch_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Connection>> idle_;
};

// Databases by file path, opened on first use and kept for the life of the pool.
class Pool {
 public:
  Pool();

  // Throws DataError as Database::Open does.
  std::shared_ptr<Database> Get(const std::string& path);

  // The same database as Get, for the per-request path: once a thread has reached `path`, it
  // finds it again without taking the pool's lock. Valid while the pool lives.
  Database& Reach(const std::string& path);

 private:
  const std::uint64_t id_;
  std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<Database>> databases_;
};

}  // namespace tessaly::data

#endif  // TESSALY_DATA_DATABASE_H_
