#include "server/session_store.h"

#include <sys/random.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace tessaly::server {
namespace {

using TimePoint = std::chrono::steady_clock::time_point;

// Expired sessions are also dropped when a session is created and this long has passed since
// the last sweep, so that abandoned visitors do not pile up while the store is below its cap.
constexpr std::chrono::minutes kSweepInterval{1};

}  // namespace

std::string NewSessionId() {
  unsigned char bytes[16];
  std::size_t filled = 0;
  while (filled < sizeof bytes) {
    ssize_t got = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "getrandom");
    }
    filled += static_cast<std::size_t>(got);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id(2 * sizeof bytes, '0');
  for (std::size_t i = 0; i < sizeof bytes; ++i) {
    id[2 * i] = kHex[bytes[i] >> 4];
    id[2 * i + 1] = kHex[bytes[i] & 0xf];
  }
  return id;
}

SessionStore::SessionStore(std::size_t max_sessions, int default_timeout_minutes, Clock clock)
    : max_sessions_(max_sessions == 0 ? 1 : max_sessions),
      default_timeout_(default_timeout_minutes),
      clock_(std::move(clock)) {}

TimePoint SessionStore::Now() const { return clock_ ? clock_() : std::chrono::steady_clock::now(); }

bool SessionStore::Expired(const Entry& entry, TimePoint now) const {
  return now - entry.last_used >= entry.timeout;
}

SessionStore::Map::iterator SessionStore::FindLive(std::string_view id, TimePoint now) {
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return it;
  if (Expired(it->second, now)) {
    Erase(it);
    return sessions_.end();
  }
  it->second.last_used = now;
  recency_.splice(recency_.begin(), recency_, it->second.recency);
  return it;
}

SessionStore::Map::iterator SessionStore::FindOrRevive(std::string_view id) {
  TimePoint now = Now();
  auto it = FindLive(id, now);
  if (it != sessions_.end()) return it;
  MakeRoom(now);
  return Insert(std::string(id), now);
}

SessionStore::Map::iterator SessionStore::Insert(std::string id, TimePoint now) {
  recency_.push_front(id);
  auto [it, inserted] = sessions_.try_emplace(std::move(id));
  it->second.timeout = default_timeout_;
  it->second.last_used = now;
  it->second.recency = recency_.begin();
  return it;
}

void SessionStore::Erase(Map::iterator it) {
  recency_.erase(it->second.recency);
  sessions_.erase(it);
}

void SessionStore::MakeRoom(TimePoint now) {
  bool full = sessions_.size() >= max_sessions_;
  if (full || now - last_sweep_ >= kSweepInterval) {
    last_sweep_ = now;
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      auto next = std::next(it);
      if (Expired(it->second, now)) Erase(it);
      it = next;
    }
  }
  while (sessions_.size() >= max_sessions_) {
    Erase(sessions_.find(recency_.back()));
  }
}

bool SessionStore::Touch(std::string_view id) {
  std::lock_guard lock(mutex_);
  return FindLive(id, Now()) != sessions_.end();
}

std::string SessionStore::Create() {
  std::string id = NewSessionId();
  std::lock_guard lock(mutex_);
  TimePoint now = Now();
  MakeRoom(now);
  Insert(id, now);
  return id;
}

std::string SessionStore::Value(std::string_view id, std::string_view name) {
  std::lock_guard lock(mutex_);
  auto it = FindLive(id, Now());
  if (it == sessions_.end()) return {};
  auto item = it->second.items.find(name);
  return item == it->second.items.end() ? std::string() : item->second;
}

void SessionStore::SetValue(std::string_view id, std::string_view name, std::string value) {
  std::lock_guard lock(mutex_);
  auto& items = FindOrRevive(id)->second.items;
  auto item = items.find(name);
  if (item != items.end()) {
    item->second = std::move(value);
  } else {
    items.emplace(std::string(name), std::move(value));
  }
}

void SessionStore::SetTimeout(std::string_view id, int minutes) {
  std::lock_guard lock(mutex_);
  FindOrRevive(id)->second.timeout = std::chrono::minutes(minutes);
}

void SessionStore::Remove(std::string_view id) {
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(id);
  if (it != sessions_.end()) Erase(it);
}

std::size_t SessionStore::size() const {
  std::lock_guard lock(mutex_);
  return sessions_.size();
}

}  // namespace tessaly::server
