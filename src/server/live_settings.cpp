#include "server/live_settings.h"

#include <spdlog/spdlog.h>

#include <exception>

namespace tessaly::server {
namespace {

std::string Joined(const std::vector<std::string>& keys) {
  std::string text;
  for (const std::string& key : keys) text += (text.empty() ? "" : ", ") + key;
  return text;
}

bool SamePages(const std::vector<PageConfig>& a, const std::vector<PageConfig>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].path != b[i].path || a[i].web_path.ToString() != b[i].web_path.ToString() ||
        a[i].hot_news.ToString() != b[i].hot_news.ToString() ||
        a[i].image_size.ToString() != b[i].image_size.ToString()) {
      return false;
    }
  }
  return true;
}

// Compares one setting of the running and the next configuration, and takes it up when it
// applies at once.
class Comparison {
 public:
  Comparison(const ServerConfig& next, ServerConfig& taken, LiveSettings::Changes& changes)
      : next_(next), taken_(taken), changes_(changes) {}

  template <typename T>
  void Live(std::string_view key, T ServerConfig::*member) {
    if (taken_.*member == next_.*member) return;
    taken_.*member = next_.*member;
    changes_.applied.emplace_back(key);
  }
  void Restart(std::string_view key, bool same) {
    if (!same) changes_.need_restart.emplace_back(key);
  }
  template <typename T>
  void Restart(std::string_view key, T ServerConfig::*member) {
    Restart(key, taken_.*member == next_.*member);
  }

 private:
  const ServerConfig& next_;
  ServerConfig& taken_;
  LiveSettings::Changes& changes_;
};

}  // namespace

LiveSettings::LiveSettings(ServerConfig running)
    : current_(std::make_shared<const ServerConfig>(std::move(running))) {}

LiveSettings::Changes LiveSettings::Apply(const ServerConfig& next) {
  auto taken = std::make_shared<ServerConfig>(*current_.load());
  Changes changes;
  Comparison compare(next, *taken, changes);
  compare.Live("site", &ServerConfig::texts);
  compare.Live(kMaxHeaderBytes.key, &ServerConfig::max_header_bytes);
  if (next.max_body_bytes <= taken->max_body_memory_bytes) {
    compare.Live(kMaxBodyBytes.key, &ServerConfig::max_body_bytes);
  } else {
    compare.Restart(kMaxBodyBytes.key, &ServerConfig::max_body_bytes);
  }
  compare.Live(kReadTimeoutSeconds.key, &ServerConfig::read_timeout_seconds);
  compare.Live(kIdleTimeoutSeconds.key, &ServerConfig::idle_timeout_seconds);
  compare.Live("trusted_proxies", &ServerConfig::trusted_proxies);
  compare.Live(kDrainSeconds.key, &ServerConfig::drain_seconds);

  compare.Restart("root", &ServerConfig::root);
  compare.Restart("listen", &ServerConfig::listen);
  compare.Restart(kThreads.key, &ServerConfig::threads);
  compare.Restart("page", SamePages(taken->pages, next.pages));
  compare.Restart(kMaxBodyMemoryBytes.key, &ServerConfig::max_body_memory_bytes);
  compare.Restart(kMaxConnections.key, &ServerConfig::max_connections);
  compare.Restart(kMaxConnectionsPerAddress.key, &ServerConfig::max_connections_per_address);
  compare.Restart(kMaxIncludes.key, &ServerConfig::max_includes);
  compare.Restart(kMaxIncludeBytes.key, &ServerConfig::max_include_bytes);
  compare.Restart(kMaxSessions.key, &ServerConfig::max_sessions);
  compare.Restart(kMaxSearches.key, &ServerConfig::max_searches);
  compare.Restart(kSessionTimeoutMinutes.key, &ServerConfig::session_timeout_minutes);
  compare.Restart("session.store", &ServerConfig::sessions_in_database);
  compare.Restart(kCacheMaxBytes.key, &ServerConfig::cache_max_bytes);
  compare.Restart("access_log", &ServerConfig::access_log);
  compare.Restart("database.url", &ServerConfig::database_url);
  compare.Restart("health.path", &ServerConfig::health_path);

  if (!changes.applied.empty()) {
    current_.store(std::move(taken));
    version_.fetch_add(1);
  }
  return changes;
}

void LiveSettings::Reload(const std::function<ServerConfig()>& read) {
  ServerConfig next;
  try {
    next = read();
  } catch (const std::exception& error) {
    spdlog::error("reload refused, the running settings stay: {}", error.what());
    return;
  }
  const Changes changes = Apply(next);
  spdlog::info("reloaded the configuration; applied: {}; need a restart: {}",
               changes.applied.empty() ? "nothing" : Joined(changes.applied),
               changes.need_restart.empty() ? "nothing" : Joined(changes.need_restart));
}

}  // namespace tessaly::server
