// How a reader learns, without asking the database, whether anything was committed since it
// last looked: the stamp of the newest committed state, cheap enough to read on every request.
// Caches of what was read from the database are kept per stamp.
//
// The contract that each engine's watch keeps (Backend::Watch):
// - Two stamps read at two moments are equal only if no commit became visible between them.
// - A read that starts after Current() returned sees at least the state that stamp names; so
//   a result read between two equal stamps is exactly the state they name.
// - A commit that has returned to its writer, in any process, changes every later stamp (on a
//   database server: a writer that waits for the nodes, postgres/connection.h).
// A stamp that is not `known` names no state: nothing may be served or kept for it.
#ifndef TESSALY_DATA_CHANGE_WATCH_H_
#define TESSALY_DATA_CHANGE_WATCH_H_

#include <array>
#include <cstdint>

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

}  // namespace tessaly::data

#endif  // TESSALY_DATA_CHANGE_WATCH_H_
