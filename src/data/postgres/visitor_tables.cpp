#include "data/postgres/visitor_tables.h"

#include "base/errors.h"

namespace tessaly::data {

PostgresVisitorTables::PostgresVisitorTables(std::shared_ptr<Database> database,
                                             int default_timeout_minutes)
    : database_(std::move(database)), default_minutes_(default_timeout_minutes) {}

std::int64_t PostgresVisitorTables::Run(const std::string& sql,
                                        const std::vector<data::Value>& params) {
  return database_->Acquire()->Execute(sql, params);
}

bool PostgresVisitorTables::Touch(std::string_view id) {
  return Run("UPDATE WEB_SESSION SET EXPIRES = now() + TIMEOUT_MINUTES * interval '1 minute' "
             "WHERE ID = ? AND EXPIRES > now()",
             {std::string(id)}) == 1;
}

void PostgresVisitorTables::Create(std::string_view id) {
  Run("INSERT INTO WEB_SESSION (ID, TIMEOUT_MINUTES, EXPIRES) VALUES (?, ?, now() + "
      "CAST(? AS BIGINT) * interval '1 minute')",
      {std::string(id), default_minutes_, default_minutes_});
}

std::string PostgresVisitorTables::Value(std::string_view id, std::string_view name) {
  std::vector<Row> rows;
  database_->Acquire()->Query(
      "SELECT I.ITEM FROM WEB_SESSION_ITEM I JOIN WEB_SESSION S ON S.ID = I.ID "
      "WHERE I.ID = ? AND I.NAME = ? AND S.EXPIRES > now()",
      {std::string(id), std::string(name)}, rows);
  return rows.empty() ? std::string() : rows[0][0].ToText();
}

void PostgresVisitorTables::SetValue(std::string_view id, std::string_view name,
                                     const std::string& value) {
  Run("SELECT TESSALY_SESSION_SET(?, ?, ?, ?)",
      {std::string(id), default_minutes_, std::string(name), value});
}

void PostgresVisitorTables::SetTimeout(std::string_view id, int minutes) {
  Run("SELECT TESSALY_SESSION_TIMEOUT(?, ?, ?)",
      {std::string(id), default_minutes_, std::int64_t{minutes}});
}

void PostgresVisitorTables::Remove(std::string_view id) {
  Run("DELETE FROM WEB_SESSION WHERE ID = ?", {std::string(id)});
}

void PostgresVisitorTables::Renew(std::string_view id, std::string_view renewed,
                                  std::string_view account) {
  Run("SELECT TESSALY_SESSION_RENEW(?, ?, ?, ?)",
      {std::string(id), std::string(renewed), std::string(account), default_minutes_});
}

void PostgresVisitorTables::EndAccount(std::string_view account, std::string_view keep) {
  Run("DELETE FROM WEB_SESSION WHERE ACCOUNT = ? AND ID <> ?",
      {std::string(account), std::string(keep)});
}

std::int64_t PostgresVisitorTables::RecentFailures(std::string_view address,
                                                   std::chrono::seconds window) {
  std::vector<Row> rows;
  database_->Acquire()->Query(
      "SELECT count(*) FROM LOGON_FAILURE WHERE ADDRESS = ? AND FAILED_AT > now() - "
      "CAST(? AS BIGINT) * interval '1 second'",
      {std::string(address), static_cast<std::int64_t>(window.count())}, rows);
  return rows.empty() ? 0 : rows[0][0].ToInt();
}

void PostgresVisitorTables::RecordFailure(std::string_view address, std::chrono::seconds window) {
  PooledConnection connection = database_->Acquire();
  connection->Execute(
      "DELETE FROM LOGON_FAILURE WHERE ADDRESS = ? AND FAILED_AT <= now() - "
      "CAST(? AS BIGINT) * interval '1 second'",
      {std::string(address), static_cast<std::int64_t>(window.count())});
  connection->Execute("INSERT INTO LOGON_FAILURE (ADDRESS, FAILED_AT) VALUES (?, now())",
                      {std::string(address)});
}

void PostgresVisitorTables::ForgetFailures(std::string_view address) {
  Run("DELETE FROM LOGON_FAILURE WHERE ADDRESS = ?", {std::string(address)});
}

void PostgresVisitorTables::Sweep(std::size_t keep, std::size_t keep_accounts,
                                  std::chrono::seconds window) {
  Run("DELETE FROM WEB_SESSION WHERE EXPIRES <= now()", {});
  Run("DELETE FROM WEB_SESSION WHERE ID IN (SELECT ID FROM WEB_SESSION WHERE ACCOUNT IS NULL "
      "ORDER BY EXPIRES DESC OFFSET ?)",
      {static_cast<std::int64_t>(keep)});
  Run("DELETE FROM WEB_SESSION WHERE ID IN (SELECT ID FROM WEB_SESSION WHERE ACCOUNT IS NOT NULL "
      "ORDER BY EXPIRES DESC OFFSET ?)",
      {static_cast<std::int64_t>(keep_accounts)});
  Run("DELETE FROM LOGON_FAILURE WHERE FAILED_AT <= now() - CAST(? AS BIGINT) * interval '1 "
      "second'",
      {static_cast<std::int64_t>(window.count())});
}

}  // namespace tessaly::data
