// What the node tells a load balancer: 200 "ok" at the health path while it can serve, and
// otherwise 503 with the reason in one line ("draining", or what the database said). The
// answer costs a lock and a copy: the database is asked by a thread of the health's own, once a
// second, and every loop reads its last result, so that a balancer that asks often, or many
// balancers, never cost more than that one read a second and never wait for a slow database.
#ifndef TESSALY_SERVER_HEALTH_H_
#define TESSALY_SERVER_HEALTH_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "server/answer.h"

namespace tessaly::server {

// Why the node cannot serve now, or "" when it can: asks the database, so it may take a round
// trip. Called on the health thread only; what it throws is taken as the reason.
using HealthProbe = std::function<std::string()>;

class Health {
 public:
  // How often the probe runs, and how long its last result counts: a probe that has not come
  // back by then (a database that does not answer) makes the node unhealthy.
  static constexpr std::chrono::seconds kProbeEvery{1};
  static constexpr std::chrono::seconds kResultLasts{5};

  // Answers at `path`. Runs `probe` once before it returns, then once a second on a thread of
  // its own until destroyed; without a probe the node is healthy while it is not draining.
  Health(std::string path, HealthProbe probe);
  ~Health();
  Health(const Health&) = delete;
  Health& operator=(const Health&) = delete;

  const std::string& path() const { return path_; }

  // From now on the node says it is draining: it still serves, but a balancer should send it
  // nothing new. Thread-safe.
  void StartDraining() { draining_ = true; }
  bool draining() const { return draining_; }

  // Why the node cannot serve, "" when it can. Thread-safe.
  std::string Trouble() const;

  // 200 "ok\n", or 503 with the trouble and a line break; plain text, never kept by a cache.
  void Respond(Answer& answer) const;

 private:
  using Clock = std::chrono::steady_clock;
  void ProbeOnce();
  void Run(const std::stop_token& stop);

  const std::string path_;
  const HealthProbe probe_;
  std::atomic<bool> draining_{false};
  mutable std::mutex mutex_;
  std::string trouble_;       // the last probe's
  Clock::time_point probed_;  // when the last probe came back
  std::condition_variable_any wake_;
  std::jthread thread_;  // last: stopped and joined first
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_HEALTH_H_
