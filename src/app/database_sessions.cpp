#include "app/database_sessions.h"

#include <spdlog/spdlog.h>

#include <mutex>

namespace tessaly::app {

DatabaseSessions::DatabaseSessions(std::shared_ptr<data::VisitorTables> tables)
    : tables_(std::move(tables)) {}

bool DatabaseSessions::Touch(std::string_view id) {
  try {
    return tables_->Touch(id);
  } catch (const std::exception& e) {
    spdlog::error("session lookup: {}", e.what());
    return false;
  }
}

std::string DatabaseSessions::Create(server::SessionIds& ids) {
  std::string id = ids.Next();
  tables_->Create(id);
  return id;
}

std::string DatabaseSessions::Value(std::string_view id, std::string_view name) {
  return tables_->Value(id, name);
}

void DatabaseSessions::SetValue(std::string_view id, std::string_view name, std::string value) {
  tables_->SetValue(id, name, value);
}

void DatabaseSessions::SetTimeout(std::string_view id, int minutes) {
  tables_->SetTimeout(id, minutes);
}

std::string DatabaseSessions::Renew(server::SessionIds& ids, std::string_view id,
                                    std::string_view account) {
  std::string renewed = ids.Next();
  tables_->Renew(id, renewed, account);
  return renewed;
}

void DatabaseSessions::EndAccount(std::string_view account, std::string_view keep) {
  tables_->EndAccount(account, keep);
}

void DatabaseSessions::Remove(std::string_view id) {
  try {
    tables_->Remove(id);
  } catch (const std::exception& e) {
    spdlog::error("session removal: {}", e.what());
  }
}

SessionSweeper::SessionSweeper(std::shared_ptr<data::VisitorTables> tables, std::size_t keep,
                               std::chrono::seconds window)
    : thread_([tables = std::move(tables), keep, window, this](const std::stop_token& stop) {
        std::mutex mutex;
        while (!stop.stop_requested()) {
          try {
            tables->Sweep(keep, server::kMaxAccountSessions, window);
          } catch (const std::exception& e) {
            spdlog::warn("sweeping sessions: {}", e.what());
          }
          std::unique_lock lock(mutex);
          wake_.wait_for(lock, stop, std::chrono::minutes(1), [] { return false; });
        }
      }) {}

}  // namespace tessaly::app
