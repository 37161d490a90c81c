// Makes a log database with entries whose times the test controls, and reads and changes it as
// another tool would. A database is an SQLite file or a PostgreSQL URL (data::IsDatabaseUrl);
// the helpers speak to either, in SQL that both read alike unless a helper says otherwise.
#ifndef TESSALY_TESTS_SUPPORT_ENTRIES_H_
#define TESSALY_TESTS_SUPPORT_ENTRIES_H_

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "data/database.h"
#include "data/postgres.h"

namespace tessaly::testing {

// Runs one statement with `params` on the database file, as another tool would; returns the
// first column of its first row as bytes, "" when it gives no row.
inline std::string Sql(const std::string& file, const std::string& sql,
                       std::initializer_list<std::string> params = {}) {
  if (data::IsDatabaseUrl(file)) {
    auto connection = data::ConnectPostgres(file);
    std::vector<data::Row> rows;
    connection->Query(sql, std::vector<data::Value>(params.begin(), params.end()), rows);
    return rows.empty() || rows[0].empty() ? std::string() : rows[0][0].ToText();
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open");
  sqlite3_busy_timeout(db, 5000);
  sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);  // tests need no fsync
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(message);
  }
  int i = 1;
  for (const std::string& p : params) {
    sqlite3_bind_text(stmt, i++, p.data(), static_cast<int>(p.size()), SQLITE_TRANSIENT);
  }
  const int rc = sqlite3_step(stmt);
  std::string first;
  if (rc == SQLITE_ROW && sqlite3_column_blob(stmt, 0)) {
    first.assign(static_cast<const char*>(sqlite3_column_blob(stmt, 0)),
                 static_cast<std::size_t>(sqlite3_column_bytes(stmt, 0)));
  }
  const int finished = sqlite3_finalize(stmt);
  sqlite3_close(db);
  if ((rc != SQLITE_DONE && rc != SQLITE_ROW) || finished != SQLITE_OK) {
    throw std::runtime_error("statement failed: " + sql);
  }
  return first;
}

// Runs several statements without parameters at once, as another tool would.
inline void Script(const std::string& database, const std::string& sql) {
  if (data::IsDatabaseUrl(database)) {
    auto connection = data::ConnectPostgres(database);
    data::RunScript(*connection, sql);
    return;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(database.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open");
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
  if (data::IsDatabaseUrl(file)) {
    Sql(file,
        "INSERT INTO MESSAGE (TITLE, CONTENT, STIME) SELECT 't' || i, 'c', "
        "format('2026-03-%s 10:%s:05.125', lpad((1 + i / 60)::text, 2, '0'), "
        "lpad((i % 60)::text, 2, '0')) FROM generate_series(1, CAST(? AS INTEGER)) AS i ORDER BY i",
        {std::to_string(count)});
    return;
  }
  Sql(file,
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < CAST(? AS "
      "INTEGER)) "
      "INSERT INTO MESSAGE (TITLE, CONTENT, STIME) SELECT 't' || i, 'c', "
      "printf('2026-03-%02d 10:%02d:05.125', 1 + i / 60, i % 60) FROM n ORDER BY i",
      {std::to_string(count)});
}

// Adds an IMAGE row to the database file; returns its ID.
inline std::int64_t InsertPicture(const std::string& file, const std::string& name,
                                  const std::string& type, const std::string& bytes,
                                  const std::string& stime = "2026-03-01 10:00:05.125") {
  std::string hex;  // a blob literal: the bytes may hold anything, NUL included
  for (unsigned char c : bytes) hex += {"0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
  if (data::IsDatabaseUrl(file)) {
    return std::stoll(Sql(file,
                          "INSERT INTO IMAGE (NAME, TYPE, DATA, STIME) VALUES (?, ?, decode(?, "
                          "'hex'), ?) RETURNING ID",
                          {name, type, hex, stime}));
  }
  return std::stoll(Sql(
      file,
      "INSERT INTO IMAGE (NAME, TYPE, DATA, STIME) VALUES (?, ?, X'" + hex + "', ?) RETURNING ID",
      {name, type, stime}));
}

}  // namespace tessaly::testing

#endif  // TESSALY_TESTS_SUPPORT_ENTRIES_H_
