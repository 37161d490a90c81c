// A server node's lease on the freshness of a PostgreSQL database: while it holds, the node
// knows the newest generation (connection.h) without asking, so a cached page costs no round trip.
//
// The node keeps one connection of its own, on a thread of its own, that listens for the
// generation each commit announces and registers the node in NODE_LEASE: the generation it has
// seen and the time until which it counts as alive, renewed twice a second. A writer, once its
// commit has returned from the server, waits until every node alive has seen its generation
// (AwaitNodes in connection.cpp); a node that neither answers nor renews stops counting when its
// time runs out. So when the writer's commit returns to its caller, every node either knows of
// it or no longer trusts its lease, and "a commit that has returned, on any node, is seen by
// every later request" holds without a read per request.
//
// The node trusts its lease until LeaseTime minus a margin after it sent its last renewal: the
// database server dates the renewal later than that, so the node stops first, as long as the
// two clocks run at about the same rate (a step of the server's clock of more than the margin
// during a write could let a node that has stopped answering serve the state before it).
// Any failure of the connection ends the lease at once; the node then connects again once a
// second, and meanwhile its requests read the generation themselves (generation_feed.h).
#ifndef TESSALY_DATA_POSTGRES_NODE_LEASE_H_
#define TESSALY_DATA_POSTGRES_NODE_LEASE_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

namespace tessaly::data {

class NodeLease {
 public:
  // How long a renewal keeps a node counted as alive, how often it renews, and how much before
  // its end the node stops trusting it.
  static constexpr std::chrono::milliseconds kLeaseTime{3000};
  static constexpr std::chrono::milliseconds kRenewEvery{500};
  static constexpr std::chrono::milliseconds kMargin{500};
  // How long a writer waits for the nodes at most: a node that stopped answering has then run
  // out of its lease, so only something amiss (a clock stepped) makes a writer give up.
  static constexpr std::chrono::milliseconds kWriterWaitLimit = kLeaseTime + 2 * kRenewEvery;

  // Starts the thread, which connects to `url` (a PostgreSQL database with our schema). Until
  // the node is registered, Generation() gives nothing.
  explicit NodeLease(std::string url);
  // Stops the thread and removes the node's row, within about a tenth of a second.
  ~NodeLease();
  NodeLease(const NodeLease&) = delete;
  NodeLease& operator=(const NodeLease&) = delete;

  // The newest generation, when the lease holds: no commit that has returned to its writer is
  // newer. Otherwise nothing. Thread-safe and lock-free.
  std::optional<std::uint64_t> Generation() const;

 private:
  void Run(const std::stop_token& stop);

  const std::string url_;
  std::atomic<std::uint64_t> generation_{0};
  std::atomic<std::int64_t> valid_until_{0};  // steady clock, in its own ticks; 0: no lease
  std::jthread thread_;
};

}  // namespace tessaly::data

#endif  // TESSALY_DATA_POSTGRES_NODE_LEASE_H_
