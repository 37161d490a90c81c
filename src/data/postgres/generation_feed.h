// Fresh stamps of a PostgreSQL database for the page requests of one event loop, read without
// blocking the loop: what a request waits for while the node's lease does not hold
// (node_lease.h), as after a lost connection.
//
// A request is let in (Enter) once a read of the generation that was sent after it asked has
// been answered. The requests that the loop takes in at one turn share one read, which goes
// out when the loop has handled what was ready; reads are pipelined on one connection, so a
// read goes out without waiting for those still in flight, and each request waits about one
// round trip. So the loop asks the database server once per batch of requests and never sits
// waiting for it, and every request still gets a stamp no older than its own start: a commit
// that had returned, on any node, before the request asked is seen (change_watch.h).
//
// The request's page run happens inside `run`, on the loop's thread, under a StampLoan of that
// stamp (database.h). When the server cannot be reached the stamp lent is not known and `run`
// still runs: the page then reads the database itself and fails or succeeds as it would have.
// The feed keeps one connection of its own, outside the pool, and tries to make it again at
// most once a second after it broke.
#ifndef TESSALY_DATA_POSTGRES_GENERATION_FEED_H_
#define TESSALY_DATA_POSTGRES_GENERATION_FEED_H_

#include <functional>
#include <memory>

namespace boost::asio {
class io_context;
}  // namespace boost::asio

namespace tessaly::data {

class Database;

class GenerationFeed {
 public:
  // `database`, a PostgreSQL database, outlives the feed; `loop` is run by one thread, which
  // is the only one that calls Enter. Connects at the first request, not here.
  GenerationFeed(boost::asio::io_context& loop, const Database& database);
  ~GenerationFeed();
  GenerationFeed(const GenerationFeed&) = delete;
  GenerationFeed& operator=(const GenerationFeed&) = delete;

  // Calls `run` once a fresh stamp is in hand, with it lent; possibly before returning.
  void Enter(std::function<void()> run);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace tessaly::data

#endif  // TESSALY_DATA_POSTGRES_GENERATION_FEED_H_
