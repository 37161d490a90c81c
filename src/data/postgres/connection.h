// Connections to a PostgreSQL database over libpq, and the stamp of its newest committed state.
//
// Every write to the entries, the accounts or the pictures bumps the one row of GENERATION in
// the writer's own transaction (statement triggers) and announces the new number, so a commit
// that has returned, on any node, has already changed the number that every later read of it
// gives. A read transaction (REPEATABLE READ) reads the number first, which fixes its snapshot:
// the state it reads is exactly the one that number names.
//
// A write made through a connection of this layer returns to its caller only once every node
// whose lease holds has seen its number (node_lease.h). Another program that writes calls
// TESSALY_AWAIT_NODES after its commit for the same; without it, nodes see the write within
// the time an announcement takes (a few milliseconds).
#ifndef TESSALY_DATA_POSTGRES_CONNECTION_H_
#define TESSALY_DATA_POSTGRES_CONNECTION_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "data/change_watch.h"
#include "data/connection.h"

namespace tessaly::data {

class Database;

// The waits of a process's writes for the nodes to see them (node_lease.h): how many, and how
// long in all. Lock-free.
struct NodeWaits {
  std::atomic<std::uint64_t> count{0};
  std::atomic<std::uint64_t> nanoseconds{0};
};

// A new connection to the database at `url` (a libpq connection URI), whose writes' waits for
// the nodes add to `waits` when given. Throws DataError.
std::unique_ptr<Connection> ConnectPostgres(const std::string& url,
                                            std::shared_ptr<NodeWaits> waits = nullptr);

// Runs statements without parameters, several in one text (schema changes, scripts), on a
// connection of ConnectPostgres. Throws DataError.
void RunScript(Connection& connection, const std::string& sql);

// The statement that reads the generation (one row, one bigint), and the stamp that names the
// state a generation number stands for.
inline constexpr const char* kReadGeneration = "SELECT N FROM GENERATION";
Stamp GenerationStamp(std::uint64_t number);

// The stamp of the database's newest committed state: one prepared statement on a connection
// of `database`'s pool per call. Unknown when the server cannot be reached.
std::unique_ptr<ChangeWatch> WatchPostgres(Database& database);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_POSTGRES_CONNECTION_H_
