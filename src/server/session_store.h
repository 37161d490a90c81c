// The visitors' sessions, kept in memory and shared by all connections.
//
// A session is named by an id of 128 random bits (32 hex digits) that only this store hands
// out. It lives while it is used: it ends when it has not been touched for its time-out, when
// it is removed, or when its budget is full and it is the least recently used of it. Sessions
// that belong to an account (logged on) have a budget of their own, so that no number of new
// visitors ends one. Thread-safe.
//
// No operation walks the visitors' sessions, so that a flood of new visitors cannot make the
// store, and every request waiting on its lock, slow: each costs the same whatever the store
// holds (it grows only with the number of different time-outs in use, two in practice). Only
// EndAccount walks, and only the sessions that belong to accounts, which are few.
#ifndef TESSALY_SERVER_SESSION_STORE_H_
#define TESSALY_SERVER_SESSION_STORE_H_

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "server/settings.h"

namespace tessaly::server {

// Session ids: 128 random bits from the kernel's generator as 32 lower-case hex digits, each
// one that no other id shares. The bits are drawn a block at a time, so that a flood of new
// visitors (a crawler keeps no cookie) costs no system call per session. One event loop's
// (loop_state.h), or one caller's: not thread-safe.
class SessionIds {
 public:
  std::string Next();

 private:
  static constexpr std::size_t kIdBytes = 16;
  std::array<unsigned char, 64 * kIdBytes> block_{};
  std::size_t used_ = block_.size();
};

// Where the visitors' sessions are kept: this process's memory (SessionStore), or a store that
// several servers share. Ids are those that SessionIds makes. Thread-safe.
class Sessions {
 public:
  virtual ~Sessions() = default;
  // As SessionStore's members of the same names.
  virtual bool Touch(std::string_view id) = 0;
  virtual std::string Create(SessionIds& ids) = 0;
  virtual std::string Value(std::string_view id, std::string_view name) = 0;
  virtual void SetValue(std::string_view id, std::string_view name, std::string value) = 0;
  virtual void SetTimeout(std::string_view id, int minutes) = 0;
  virtual void Remove(std::string_view id) = 0;
  virtual std::string Renew(SessionIds& ids, std::string_view id, std::string_view account) = 0;
  virtual void EndAccount(std::string_view account, std::string_view keep) = 0;
  // The sessions held, where counting them is cheap; none for a store that would have to ask.
  virtual std::optional<std::size_t> Held() const { return std::nullopt; }
};

class SessionStore final : public Sessions {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `max_sessions` >= 1 visitors' sessions, and `max_account_sessions` >= 1 sessions that
  // belong to accounts besides. `clock` defaults to the steady clock; tests pass their own.
  SessionStore(std::size_t max_sessions, int default_timeout_minutes, Clock clock = {},
               std::size_t max_account_sessions = kMaxAccountSessions);

  // Marks the session `id` as used now. False (and the session gone) when it is unknown or
  // has expired; an id the store never issued is never taken up.
  bool Touch(std::string_view id) override;

  // Starts an empty session with the default time-out under the next of `ids` and returns its
  // id. Drops a few expired sessions first, then, when the visitors' budget is full, its least
  // recently used session.
  std::string Create(SessionIds& ids) override;

  // Items of a live session. Value gives "" for an unknown session or item. SetValue and
  // SetTimeout on a session that ended meanwhile (evicted, expired) revive it under the same
  // id, so that a request never loses what it writes.
  std::string Value(std::string_view id, std::string_view name) override;
  void SetValue(std::string_view id, std::string_view name, std::string value) override;
  void SetTimeout(std::string_view id, int minutes) override;

  void Remove(std::string_view id) override;

  // Starts a session that belongs to `account` under the next of `ids`, with the items and
  // time-out of session `id` (none and the default when `id` names no live session), ends `id`,
  // and returns the new id. Makes room in the accounts' budget as Create does in the visitors'.
  std::string Renew(SessionIds& ids, std::string_view id, std::string_view account) override;

  // Ends every session that belongs to `account` but the session `keep`.
  void EndAccount(std::string_view account, std::string_view keep) override;

  std::size_t size() const;
  std::optional<std::size_t> Held() const override { return size(); }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };
  // Ids (keys of sessions_, which stay put when the map grows) of the sessions of one budget
  // with one time-out, most recently used first: they expire from the back, in order.
  using Queue = std::list<const std::string*>;
  using QueueKey = std::pair<bool, std::chrono::minutes>;  // belongs to an account; time-out
  struct Entry {
    std::unordered_map<std::string, std::string, Hash, std::equal_to<>> items;
    std::string account;  // empty: a visitor's session
    std::chrono::minutes timeout;
    std::chrono::steady_clock::time_point last_used;
    Queue* queue;  // the queue of its time-out
    Queue::iterator position;
  };
  using Map = std::unordered_map<std::string, Entry, Hash, std::equal_to<>>;

  std::chrono::steady_clock::time_point Now() const;
  bool Expired(const Entry& entry, std::chrono::steady_clock::time_point now) const;
  Map::iterator FindLive(std::string_view id, std::chrono::steady_clock::time_point now);
  Map::iterator FindOrRevive(std::string_view id);
  Map::iterator Insert(std::string id, std::chrono::steady_clock::time_point now,
                       std::string_view account, std::chrono::minutes timeout);
  void Enqueue(Map::iterator it, std::chrono::minutes timeout);
  void Dequeue(Map::iterator it);
  void Erase(Map::iterator it);
  void MakeRoom(std::chrono::steady_clock::time_point now, bool for_account);

  const std::size_t max_sessions_;
  const std::size_t max_account_sessions_;
  const std::chrono::minutes default_timeout_;
  const Clock clock_;

  mutable std::mutex mutex_;
  Map sessions_;
  std::size_t account_sessions_ = 0;  // of sessions_, those that belong to an account
  std::map<QueueKey, Queue> queues_;  // none empty
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_SESSION_STORE_H_
