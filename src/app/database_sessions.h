// The sessions of every node of a site, kept in the database they share (data::VisitorTables),
// as the server's session store, and the thread that sweeps them.
#ifndef TESSALY_APP_DATABASE_SESSIONS_H_
#define TESSALY_APP_DATABASE_SESSIONS_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "data/backend.h"
#include "server/session_store.h"

namespace tessaly::app {

// A request whose session cannot be looked up or removed goes on as one without a session;
// the other failures fail the page like any other data error.
class DatabaseSessions final : public server::Sessions {
 public:
  explicit DatabaseSessions(std::shared_ptr<data::VisitorTables> tables);

  bool Touch(std::string_view id) override;
  std::string Create(server::SessionIds& ids) override;
  std::string Value(std::string_view id, std::string_view name) override;
  void SetValue(std::string_view id, std::string_view name, std::string value) override;
  void SetTimeout(std::string_view id, int minutes) override;
  std::string Renew(server::SessionIds& ids, std::string_view id,
                    std::string_view account) override;
  void EndAccount(std::string_view account, std::string_view keep) override;
  void Remove(std::string_view id) override;

 private:
  std::shared_ptr<data::VisitorTables> tables_;
};

// Removes expired sessions (keeping at most `keep` visitors' sessions and
// server::kMaxAccountSessions logged-on ones) and old failed logons from the database once a
// minute, on a thread of its own, until it is destroyed.
class SessionSweeper {
 public:
  SessionSweeper(std::shared_ptr<data::VisitorTables> tables, std::size_t keep,
                 std::chrono::seconds window);

 private:
  std::condition_variable_any wake_;
  std::jthread thread_;  // last: stopped and joined first
};

}  // namespace tessaly::app

#endif  // TESSALY_APP_DATABASE_SESSIONS_H_
