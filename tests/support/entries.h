// Makes a log database with entries whose times the test controls, and reads and changes it as
// another tool would. A database is an SQLite file or a PostgreSQL URL (data::IsDatabaseUrl);
// the helpers speak to either, in SQL that both read alike unless a helper says otherwise.
#ifndef TESSALY_TESTS_SUPPORT_ENTRIES_H_
#define TESSALY_TESTS_SUPPORT_ENTRIES_H_

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "data/database.h"
#include "data/location.h"
#include "data/postgres/connection.h"

namespace tessaly::support {

// Runs one statement with `params` on the database, as another tool would; returns the first
// column of its first row as bytes, "" when it gives no row.
inline std::string Sql(const std::string& file, const std::string& sql,
                       std::initializer_list<std::string> params = {}) {
  if (data::IsDatabaseUrl(file)) {
    auto connection = data::ConnectPostgres(file);
    std::vector<data::Row> rows;
    connection->Query(sql, std::vector<data::Value>(params.begin(), params.end()), rows);
    return rows.empty() || rows[0].empty() ? std::string() : rows[0][0].ToText();
  }
  sqlite3* db = nullptr;
  sqlite3_stmt* stmt = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_busy_timeout(db, 5000);
  sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);  // tests need no fsync
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  int i = 1;
  for (const std::string& p : params) {
    sqlite3_bind_text(stmt, i++, p.data(), static_cast<int>(p.size()), SQLITE_TRANSIENT);
  }
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
  std::string first;
  if (rc == SQLITE_ROW && sqlite3_column_blob(stmt, 0)) {
    first.assign(static_cast<const char*>(sqlite3_column_blob(stmt, 0)),
                 static_cast<std::size_t>(sqlite3_column_bytes(stmt, 0)));
  }
  const std::string error = sqlite3_errmsg(db);
  if (sqlite3_finalize(stmt) != SQLITE_OK) rc = SQLITE_ERROR;
  sqlite3_close(db);
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) throw std::runtime_error(error + ": " + sql);
  return first;
}

// Runs several statements without parameters at once, as another tool would.
inline void Script(const std::string& database, const std::string& sql) {
  if (data::IsDatabaseUrl(database)) return data::RunScript(*data::ConnectPostgres(database), sql);
  sqlite3* db = nullptr;
  sqlite3_open(database.c_str(), &db);
  sqlite3_busy_timeout(db, 5000);
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("script failed: " + sql);
}

// Creates `folder`/logs.mdb with the schema and returns its path.
inline std::string MakeDatabase(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  const std::string file = (folder / "logs.mdb").string();
  data::Database::Create(file);
  return file;
}

inline void InsertEntry(const std::string& file, const std::string& title,
                        const std::string& content, const std::string& stime) {
  Sql(file, "INSERT INTO MESSAGE (TITLE, CONTENT, STIME) VALUES (?, ?, ?)",
      {title, content, stime});
}

// Entries "t1" to "tN" with content "c", entry i added on a later minute than entry i-1 (at
// 10:(i mod 60):05.125 of day 1 + i/60 of March 2026), so that newer entries have higher ids.
inline void FillEntries(const std::string& file, int count) {
  std::string sql = "INSERT INTO MESSAGE (TITLE, CONTENT, STIME) VALUES ";
  for (int i = 1; i <= count; ++i) {
    char row[64];
    std::snprintf(row, sizeof row, "%s('t%d', 'c', '2026-03-%02d 10:%02d:05.125')",
                  i == 1 ? "" : ", ", i, 1 + i / 60, i % 60);
    sql += row;
  }
  if (count > 0) Script(file, sql);
}

// Adds an IMAGE row to the database; returns its ID.
inline std::int64_t InsertPicture(const std::string& file, const std::string& name,
                                  const std::string& type, const std::string& bytes,
                                  const std::string& stime = "2026-03-01 10:00:05.125") {
  std::string hex;  // a blob literal: the bytes may hold anything, NUL included
  for (unsigned char c : bytes) hex += {"0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
  const std::string blob =
      data::IsDatabaseUrl(file) ? "decode('" + hex + "', 'hex')" : "X'" + hex + "'";
  return std::stoll(
      Sql(file,
          "INSERT INTO IMAGE (NAME, TYPE, DATA, STIME) VALUES (?, ?, " + blob + ", ?) RETURNING ID",
          {name, type, stime}));
}

}  // namespace tessaly::support

#endif  // TESSALY_TESTS_SUPPORT_ENTRIES_H_
