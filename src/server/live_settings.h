// The settings of a running server, taken up again from its configuration when it is told to
// (SIGHUP, systemctl reload). Each request reads one immutable snapshot at its start and keeps
// it to its end, so a reload never changes a setting under a request that is being served.
//
// What applies at once: the site's texts ([site]), the limits that a request reads as plain
// numbers (limits.max_header_bytes, max_body_bytes, read_timeout_seconds,
// idle_timeout_seconds), trusted_proxies and health.drain_seconds. Everything else is built
// into the running server (the listener, the threads, the pages, the database, the stores and
// caches sized at start): a change of it keeps the running value and is named in the log as
// needing a restart.
#ifndef TESSALY_SERVER_LIVE_SETTINGS_H_
#define TESSALY_SERVER_LIVE_SETTINGS_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/config.h"

namespace tessaly::server {

class LiveSettings {
 public:
  explicit LiveSettings(ServerConfig running);

  // The settings in force now. Thread-safe; one atomic load.
  std::shared_ptr<const ServerConfig> Current() const { return current_.load(); }
  // Counts the snapshots taken up: a reader that keeps what it made from one snapshot knows
  // by it when to make it again.
  std::uint64_t version() const { return version_.load(); }

  // The keys (as the configuration file names them) whose values differ in `next`: those
  // taken up, and those that keep their running value until a restart.
  struct Changes {
    std::vector<std::string> applied, need_restart;
  };
  // Takes up from `next` what applies at once. A body limit beyond the running budget for
  // bodies (which needs a restart) keeps its running value too. Not for several threads at once.
  Changes Apply(const ServerConfig& next);

  // Reads the configuration with `read` and applies it, logging one line: what changed, and
  // what needs a restart; or, when `read` throws (a file that does not parse), that the
  // reload was refused and why, keeping every running setting.
  void Reload(const std::function<ServerConfig()>& read);

 private:
  std::atomic<std::shared_ptr<const ServerConfig>> current_;
  std::atomic<std::uint64_t> version_{0};
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_LIVE_SETTINGS_H_
