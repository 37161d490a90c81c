// How a reader learns, without asking the database, whether anything was committed since it
// last looked: the stamp of the newest committed state, cheap enough to read on every request.
// Caches of what was read from the database are kept per stamp.
//
// The contract a backend keeps (SQLite here; another backend supplies its own ChangeWatch):
// - Two stamps read at two moments are equal only if no commit became visible between them.
// - A read that starts after Current() returned sees at least the state that stamp names; so
//   a result read between two equal stamps is exactly the state they name.
// - A commit that has returned to its writer, in any process, changes every later stamp (on a
//   database server: a writer that waits for the nodes, postgres.h).
// A stamp that is not `known` names no state: nothing may be served or kept for it.
#ifndef TESSALY_DATA_CHANGE_WATCH_H_
#define TESSALY_DATA_CHANGE_WATCH_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace tessaly::data {

struct Stamp {
  std::array<std::uint32_t, 12> words{};  // opaque to everyone but the backend
  bool known = false;

  friend bool operator==(const Stamp&, const Stamp&) = default;
};

class ChangeWatch {
 public:
  virtual ~ChangeWatch() = default;

  // The stamp of the newest committed state. Thread-safe, takes no lock, never throws.
  virtual Stamp Current() const = 0;
};

// The watch of an SQLite database in write-ahead-log mode: the header of the WAL index (the
// "-shm" file), which every commit rewrites before it returns, read from the memory that
// SQLite itself maps. The header's format is shared by every SQLite version that opens the
// file at once, so it is read as those versions read it: two copies, equal when whole.
// A database in another journal mode gives stamps that are never known.
// Throws DataError when the file cannot be opened.
std::unique_ptr<ChangeWatch> WatchSqliteFile(const std::string& path);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_CHANGE_WATCH_H_
