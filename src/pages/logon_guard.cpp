#include "pages/logon_guard.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace tessaly::pages {

unsigned LogonGuard::HashSlotsFor(unsigned server_threads) {
  const unsigned threads =
      server_threads > 0 ? server_threads : std::max(1u, std::thread::hardware_concurrency());
  return std::max(1u, threads - 1);
}

LogonGuard::LogonGuard(LogonLimits limits, Clock clock, std::shared_ptr<data::VisitorTables> shared)
    : limits_(limits), clock_(std::move(clock)), shared_(std::move(shared)) {}

LogonGuard::Failures* LogonGuard::Recent(const std::string& address,
                                         std::chrono::steady_clock::time_point now) {
  auto it = failures_.find(address);
  if (it == failures_.end()) return nullptr;
  auto& times = it->second.times;
  while (!times.empty() && now - times.front() >= limits_.window) times.pop_front();
  if (times.empty()) {
    Forget(address);
    return nullptr;
  }
  return &it->second;
}

void LogonGuard::Forget(const std::string& address) {
  auto it = failures_.find(address);
  if (it == failures_.end()) return;
  recency_.erase(it->second.recency);
  failures_.erase(it);
}

bool LogonGuard::Closed(std::string_view address) {
  if (shared_) return shared_->RecentFailures(address, limits_.window) >= limits_.failures;
  std::lock_guard lock(mutex_);
  const Failures* recent = Recent(std::string(address), clock_());
  return recent && recent->times.size() >= static_cast<std::size_t>(limits_.failures);
}

void LogonGuard::RecordFailure(std::string_view address) {
  if (shared_) return shared_->RecordFailure(address, limits_.window);
  const std::string key(address);
  std::lock_guard lock(mutex_);
  const auto now = clock_();
  Failures* recent = Recent(key, now);
  if (!recent) {
    if (!recency_.empty() && failures_.size() >= limits_.addresses) Forget(recency_.back());
    recency_.push_front(key);
    recent = &failures_[key];
    recent->recency = recency_.begin();
  } else {
    recency_.splice(recency_.begin(), recency_, recent->recency);
  }
  recent->times.push_back(now);
  if (recent->times.size() > static_cast<std::size_t>(limits_.failures)) {
    recent->times.pop_front();
  }
}

void LogonGuard::RecordSuccess(std::string_view address) {
  if (shared_) return shared_->ForgetFailures(address);
  std::lock_guard lock(mutex_);
  Forget(std::string(address));
}

std::optional<LogonGuard::HashSlot> LogonGuard::TryHashSlot() {
  std::lock_guard lock(mutex_);
  if (hashes_running_ >= limits_.hash_slots) return std::nullopt;
  ++hashes_running_;
  return HashSlot(*this);
}

LogonGuard::HashSlot::~HashSlot() {
  if (!guard_) return;
  std::lock_guard lock(guard_->mutex_);
  --guard_->hashes_running_;
}

}  // namespace tessaly::pages
