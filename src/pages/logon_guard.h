// What the logon pages share across requests and threads: which client addresses keep failing
// to log on, and how many slow password hashes may run at once. One object serves the whole
// server; every page reaches it through its context. All members are safe to call from any
// thread, and each call takes one short lock.
#ifndef TESSALY_PAGES_LOGON_GUARD_H_
#define TESSALY_PAGES_LOGON_GUARD_H_

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "data/backend.h"

namespace tessaly::pages {

struct LogonLimits {
  int failures = 5;  // failed logons from one address that close it...
  std::chrono::seconds window = std::chrono::minutes(15);  // ...when they fall within this
  // Addresses tracked at most; beyond it the one that failed least recently is forgotten, so
  // memory stays bounded whatever number of addresses a guessing loop comes from.
  std::size_t addresses = 10000;
  // Hashes at once. Each holds a page thread for its whole run, so a server must keep this
  // below its thread count for pages to be served while logons are hashed.
  unsigned hash_slots = 1;
};

// Why a logon was refused, for the operator: its request was no POST or came from a page of
// another origin, it lacked the name or password, its address was shut out for failing, every
// hash slot was taken, or the name and password did not match.
enum class LogonRefusal { kNotPost, kOtherOrigin, kMissing, kLockedOut, kBusy, kWrongAccount };
inline constexpr std::array<std::string_view, 6> kLogonRefusalNames{
    "not_post", "other_origin", "missing", "locked_out", "busy", "wrong_account"};

class LogonGuard {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // The slots for a server of `server_threads` page threads (0: one per core): one fewer than
  // the threads, at least one.
  static unsigned HashSlotsFor(unsigned server_threads);

  // With `shared`, failures are counted in the database that every node of the site uses
  // (by the database's clock, not `clock`); without it, in this process.
  explicit LogonGuard(LogonLimits limits = {}, Clock clock = std::chrono::steady_clock::now,
                      std::shared_ptr<data::VisitorTables> shared = nullptr);

  // True while `address` has `failures` failed logons within the window: its logons are
  // refused without checking until the oldest of them leaves the window.
  bool Closed(std::string_view address);
  void RecordFailure(std::string_view address);
  // A successful logon forgets the address's failures.
  void RecordSuccess(std::string_view address);

  // The right to run one hash, given back when it ends.
  class HashSlot {
   public:
    explicit HashSlot(LogonGuard& guard) : guard_(&guard) {}
    HashSlot(HashSlot&& other) noexcept : guard_(other.guard_) { other.guard_ = nullptr; }
    HashSlot& operator=(HashSlot&&) = delete;
    ~HashSlot();

   private:
    LogonGuard* guard_;
  };

  // A free slot, or none when every slot is taken. It never waits: a waiting request would
  // hold a page thread as surely as a hashing one.
  std::optional<HashSlot> TryHashSlot();

  // Logons refused, by cause, since the server started. Lock-free.
  void CountRefusal(LogonRefusal why) { refusals_[static_cast<std::size_t>(why)].fetch_add(1); }
  std::uint64_t refusals(LogonRefusal why) const {
    return refusals_[static_cast<std::size_t>(why)].load();
  }

 private:
  struct Failures {
    std::deque<std::chrono::steady_clock::time_point> times;  // at most `failures`, oldest first
    std::list<std::string>::iterator recency;                 // its place in recency_
  };

  // The address's failures within the window, with older ones dropped; null when none remain.
  Failures* Recent(const std::string& address, std::chrono::steady_clock::time_point now);
  void Forget(const std::string& address);

  const LogonLimits limits_;
  const Clock clock_;
  const std::shared_ptr<data::VisitorTables> shared_;
  std::mutex mutex_;
  std::unordered_map<std::string, Failures> failures_;
  std::list<std::string> recency_;  // addresses, the latest to fail first
  unsigned hashes_running_ = 0;
  std::array<std::atomic<std::uint64_t>, kLogonRefusalNames.size()> refusals_{};
};

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_LOGON_GUARD_H_
