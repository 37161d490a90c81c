// The visitors' sessions and failed logons (backend.h's VisitorTables) in a PostgreSQL
// database: WEB_SESSION, WEB_SESSION_ITEM and LOGON_FAILURE (schema.h). Times are the database
// server's, so nodes whose clocks differ agree; the tables have no triggers, so writing them
// leaves the generation that the output caches follow alone.
#ifndef TESSALY_DATA_POSTGRES_VISITOR_TABLES_H_
#define TESSALY_DATA_POSTGRES_VISITOR_TABLES_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/backend.h"
#include "data/database.h"

namespace tessaly::data {

class PostgresVisitorTables final : public VisitorTables {
 public:
  // `database` is a PostgreSQL one with our schema.
  PostgresVisitorTables(std::shared_ptr<Database> database, int default_timeout_minutes);

  bool Touch(std::string_view id) override;
  void Create(std::string_view id) override;
  std::string Value(std::string_view id, std::string_view name) override;
  void SetValue(std::string_view id, std::string_view name, const std::string& value) override;
  void SetTimeout(std::string_view id, int minutes) override;
  void Remove(std::string_view id) override;
  void Renew(std::string_view id, std::string_view renewed, std::string_view account) override;
  void EndAccount(std::string_view account, std::string_view keep) override;

  std::int64_t RecentFailures(std::string_view address, std::chrono::seconds window) override;
  void RecordFailure(std::string_view address, std::chrono::seconds window) override;
  void ForgetFailures(std::string_view address) override;

  void Sweep(std::size_t keep, std::size_t keep_accounts, std::chrono::seconds window) override;

 private:
  std::int64_t Run(const std::string& sql, const std::vector<data::Value>& params);

  const std::shared_ptr<Database> database_;
  const std::int64_t default_minutes_;
};

}  // namespace tessaly::data

#endif  // TESSALY_DATA_POSTGRES_VISITOR_TABLES_H_
