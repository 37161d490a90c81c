// Which connections the server holds, and whom it lets go so that no client can take them all.
//
// Two limits: an address group (address_group() in client_address.h) holds at most
// `max_per_address` connections at once, and the server at most `max_connections`. A client
// whose group holds its share is refused; one that comes when the server is full takes the place
// of the connection that has waited longest for a request, whether it is kept open after an
// answer or still sending (or never sent) its head: such a connection costs its client nothing
// to lose, while one that is reading a body, running a page or answering is never chosen.
//
// The policy alone: the caller serializes the calls, closes the connections chosen, and admits
// no connection while Full(). Each connection is a Handle from Admit until Remove.
#ifndef TESSALY_SERVER_CONNECTION_TABLE_H_
#define TESSALY_SERVER_CONNECTION_TABLE_H_

#include <cstddef>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tessaly::server {

class ConnectionTable {
 private:
  enum class State { kWaiting, kBusy, kClosing };
  struct Entry {
    std::weak_ptr<void> owner;
    std::string group;  // empty: not limited per address
    State state = State::kWaiting;
  };

 public:
  using Handle = std::list<Entry>::iterator;

  ConnectionTable(std::size_t max_connections, std::size_t max_per_address);

  struct Admission {
    std::optional<Handle> handle;  // empty: refused, its group holds its share
    std::weak_ptr<void> evict;     // the owner of a connection to close for this one; may be empty
  };
  // A new connection, waiting for its first request, from the address group `group`; an empty
  // group is not limited (a trusted proxy speaks for many clients). Not while Full(). At the
  // cap, the connection chosen to make room counts until it is removed, and is never chosen
  // again.
  Admission Admit(std::weak_ptr<void> owner, std::string group);

  // The connection waits for a request again, after an answer; it is the last to be chosen.
  void Waiting(Handle handle);
  // A request's head has arrived: the connection works until it waits again. False when it was
  // chosen to make room: it must close instead.
  bool Busy(Handle handle);
  void Remove(Handle handle);

  // At the cap with no connection to choose: a new one would pass the cap.
  bool Full() const;
  std::size_t size() const { return waiting_.size() + busy_.size() + closing_.size(); }
  std::vector<std::weak_ptr<void>> Owners() const;

 private:
  std::list<Entry>& ListOf(State state);

  const std::size_t max_connections_;
  const std::size_t max_per_address_;
  std::list<Entry> waiting_;  // longest waiting first
  std::list<Entry> busy_;
  std::list<Entry> closing_;
  std::unordered_map<std::string, std::size_t> per_group_;
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_CONNECTION_TABLE_H_
