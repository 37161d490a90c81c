// Visitors' sessions and failed logons kept in a PostgreSQL database, so that every server of
// a site sees the same: a visitor's page number and an administrator's logon hold on any
// node, and a client that keeps guessing is shut out on all of them.
//
// Times are the database server's, so nodes whose clocks differ agree. Sessions have the
// contract of server::SessionStore (a session used within its time-out lives; SetValue and
// SetTimeout revive one that ended, empty); writes to these tables change no page, so they do
// not touch the generation that the output caches follow. Thread-safe; every member throws
// DataError when the database cannot be reached.
#ifndef TESSALY_DATA_SESSION_TABLE_H_
#define TESSALY_DATA_SESSION_TABLE_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "data/database.h"

namespace tessaly::data {

class SessionTable {
 public:
  // `database` must be a PostgreSQL one (throws DataError otherwise).
  SessionTable(std::shared_ptr<Database> database, int default_timeout_minutes);

  bool Touch(std::string_view id);
  void Create(std::string_view id);
  std::string Value(std::string_view id, std::string_view name);
  void SetValue(std::string_view id, std::string_view name, const std::string& value);
  void SetTimeout(std::string_view id, int minutes);
  void Remove(std::string_view id);
  // Sessions that belong to an account: started by a logon (server::SessionStore::Renew, with
  // `renewed` made by the caller), and ended together when the account's password changes.
  void Renew(std::string_view id, std::string_view renewed, std::string_view account);
  void EndAccount(std::string_view account, std::string_view keep);

  // Failed logons of `address` within the last `window`.
  std::int64_t RecentFailures(std::string_view address, std::chrono::seconds window);
  // Notes a failure now, forgetting the address's failures older than `window`.
  void RecordFailure(std::string_view address, std::chrono::seconds window);
  void ForgetFailures(std::string_view address);

  // Removes the expired sessions; of the visitors' sessions those closest to expiring beyond
  // `keep`, and of the sessions that belong to accounts those beyond `keep_accounts`, so that
  // visitors never crowd out a logged-on session; and failures older than `window`. For a
  // background thread.
  void Sweep(std::size_t keep, std::size_t keep_accounts, std::chrono::seconds window);

 private:
  std::int64_t Run(const std::string& sql, std::vector<data::Value> params);

  const std::shared_ptr<Database> database_;
  const std::int64_t default_minutes_;
};

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SESSION_TABLE_H_
