#include "server/session_store.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace tessaly::server {
namespace {

using TimePoint = std::chrono::steady_clock::time_point;

// Expired sessions that making room for one session drops at most. More than one, so that
// dropping outpaces the creation of sessions that will expire.
constexpr int kSweepPerCall = 4;

}  // namespace

std::string SessionIds::Next() {
  if (used_ == block_.size()) {
    std::size_t filled = 0;
    while (filled < block_.size()) {
      ssize_t got = ::getrandom(block_.data() + filled, block_.size() - filled, 0);
      if (got < 0) {
        if (errno == EINTR) continue;
        throw std::system_error(errno, std::generic_category(), "getrandom");
      }
      filled += static_cast<std::size_t>(got);
    }
    used_ = 0;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id(2 * kIdBytes, '0');
  for (std::size_t i = 0; i < kIdBytes; ++i) {
    const unsigned char byte = block_[used_ + i];
    id[2 * i] = kHex[byte >> 4];
    id[2 * i + 1] = kHex[byte & 0xf];
    block_[used_ + i] = 0;  // used once
  }
  used_ += kIdBytes;
  return id;
}

SessionStore::SessionStore(std::size_t max_sessions, int default_timeout_minutes, Clock clock,
                           std::size_t max_account_sessions)
    : max_sessions_(max_sessions == 0 ? 1 : max_sessions),
      max_account_sessions_(max_account_sessions == 0 ? 1 : max_account_sessions),
      default_timeout_(default_timeout_minutes),
      clock_(std::move(clock)) {}

TimePoint SessionStore::Now() const { return clock_ ? clock_() : std::chrono::steady_clock::now(); }

bool SessionStore::Expired(const Entry& entry, TimePoint now) const {
  return now - entry.last_used >= entry.timeout;
}

SessionStore::Map::iterator SessionStore::FindLive(std::string_view id, TimePoint now) {
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return it;
  Entry& entry = it->second;
  if (Expired(entry, now)) {
    Erase(it);
    return sessions_.end();
  }
  entry.last_used = now;
  entry.queue->splice(entry.queue->begin(), *entry.queue, entry.position);
  return it;
}

SessionStore::Map::iterator SessionStore::FindOrRevive(std::string_view id) {
  TimePoint now = Now();
  auto it = FindLive(id, now);
  if (it != sessions_.end()) return it;
  MakeRoom(now, false);
  return Insert(std::string(id), now, {}, default_timeout_);
}

SessionStore::Map::iterator SessionStore::Insert(std::string id, TimePoint now,
                                                 std::string_view account,
                                                 std::chrono::minutes timeout) {
  auto it = sessions_.try_emplace(std::move(id)).first;
  it->second.last_used = now;
  it->second.account = account;
  if (!account.empty()) ++account_sessions_;
  Enqueue(it, timeout);
  return it;
}

// Puts a session that is in no queue at the front of the queue of its budget and `timeout`.
void SessionStore::Enqueue(Map::iterator it, std::chrono::minutes timeout) {
  Queue& queue = queues_[{!it->second.account.empty(), timeout}];
  queue.push_front(&it->first);
  it->second.timeout = timeout;
  it->second.queue = &queue;
  it->second.position = queue.begin();
}

void SessionStore::Dequeue(Map::iterator it) {
  Entry& entry = it->second;
  entry.queue->erase(entry.position);
  if (entry.queue->empty()) queues_.erase({!entry.account.empty(), entry.timeout});
}

void SessionStore::Erase(Map::iterator it) {
  Dequeue(it);
  if (!it->second.account.empty()) --account_sessions_;
  sessions_.erase(it);
}

// Drops expired sessions from the backs of the queues, a few at most, then the least recently
// used session of the budget that a new session is to join, if it is still full: that one is at
// the back of one of the budget's queues.
void SessionStore::MakeRoom(TimePoint now, bool for_account) {
  int budget = kSweepPerCall;
  for (auto queue = queues_.begin(); queue != queues_.end() && budget > 0;) {
    auto next = std::next(queue);
    for (bool more = true; more && budget > 0; --budget) {
      auto oldest = sessions_.find(*queue->second.back());
      if (!Expired(oldest->second, now)) break;
      more = queue->second.size() > 1;  // else Erase drops the queue
      Erase(oldest);
    }
    queue = next;
  }
  const std::size_t held = for_account ? account_sessions_ : sessions_.size() - account_sessions_;
  if (held < (for_account ? max_account_sessions_ : max_sessions_)) return;
  Map::iterator victim = sessions_.end();
  for (auto& [key, queue] : queues_) {
    if (key.first != for_account) continue;
    auto oldest = sessions_.find(*queue.back());
    if (victim == sessions_.end() || oldest->second.last_used < victim->second.last_used) {
      victim = oldest;
    }
  }
  Erase(victim);
}

bool SessionStore::Touch(std::string_view id) {
  std::lock_guard lock(mutex_);
  return FindLive(id, Now()) != sessions_.end();
}

std::string SessionStore::Create(SessionIds& ids) {
  std::string id = ids.Next();
  std::lock_guard lock(mutex_);
  TimePoint now = Now();
  MakeRoom(now, false);
  Insert(id, now, {}, default_timeout_);
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
  auto it = FindOrRevive(id);
  if (it->second.timeout == std::chrono::minutes(minutes)) return;
  Dequeue(it);
  Enqueue(it, std::chrono::minutes(minutes));
}

void SessionStore::Remove(std::string_view id) {
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(id);
  if (it != sessions_.end()) Erase(it);
}

std::string SessionStore::Renew(SessionIds& ids, std::string_view id, std::string_view account) {
  std::string renewed = ids.Next();
  std::lock_guard lock(mutex_);
  TimePoint now = Now();
  Entry kept;
  kept.timeout = default_timeout_;
  if (auto it = FindLive(id, now); it != sessions_.end()) {
    kept.items = std::move(it->second.items);
    kept.timeout = it->second.timeout;
    Erase(it);
  }
  MakeRoom(now, !account.empty());
  Insert(renewed, now, account, kept.timeout)->second.items = std::move(kept.items);
  return renewed;
}

void SessionStore::EndAccount(std::string_view account, std::string_view keep) {
  std::lock_guard lock(mutex_);
  std::vector<const std::string*> ended;
  for (const auto& [key, queue] : queues_) {
    if (!key.first) continue;
    for (const std::string* id : queue) {
      if (*id != keep && sessions_.find(*id)->second.account == account) ended.push_back(id);
    }
  }
  for (const std::string* id : ended) Erase(sessions_.find(*id));
}

std::size_t SessionStore::size() const {
  std::lock_guard lock(mutex_);
  return sessions_.size();
}

}  // namespace tessaly::server
