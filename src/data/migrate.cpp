#include "data/migrate.h"

#include "base/errors.h"
#include "data/database.h"
#include "data/location.h"
#include "data/postgres/connection.h"
#include "data/postgres/schema.h"

namespace tessaly::data {
namespace {

// Entries per statement: one bound JSON array each, so that a large log costs a few hundred
// round trips rather than one per entry.
constexpr std::int64_t kEntriesPerBatch = 1000;

std::int64_t Count(Connection& connection, const std::string& sql) {
  std::vector<Row> rows;
  connection.Query(sql, {}, rows);
  return rows.empty() ? 0 : rows[0][0].ToInt();
}

void CopyEntries(Connection& from, Connection& to, const auto& progress) {
  const std::int64_t total = Count(from, "SELECT count(*) FROM MESSAGE");
  std::int64_t done = 0, last_id = -1;
  while (true) {
    std::vector<Row> rows;
    from.Query("SELECT ID, TITLE, CONTENT, STIME FROM MESSAGE WHERE ID > ? ORDER BY ID LIMIT ?",
               {last_id, kEntriesPerBatch}, rows);
    if (rows.empty()) break;
    std::string json = "[";
    for (const Row& row : rows) {
      if (json.size() > 1) json += ',';
      json += "{\"id\":" + std::to_string(row[0].ToInt()) + ",\"title\":";
      AppendJsonString(json, row[1].ToText());
      json += ",\"content\":";
      AppendJsonString(json, row[2].ToText());
      json += ",\"stime\":";
      AppendJsonString(json, row[3].ToText());
      json += '}';
    }
    json += ']';
    to.Execute(
        "INSERT INTO MESSAGE (ID, TITLE, CONTENT, STIME) SELECT id, title, content, stime FROM "
        "json_to_recordset(CAST(? AS json)) AS r(id bigint, title text, content text, stime text)",
        {json});
    last_id = rows.back()[0].ToInt();
    done += static_cast<std::int64_t>(rows.size());
    if (progress) progress("entries", done, total);
  }
}

void CopyAccounts(Connection& from, Connection& to, const auto& progress) {
  std::vector<Row> rows;
  from.Query("SELECT USERNAME, PASSWORD FROM USERTB", {}, rows);
  std::int64_t done = 0;
  for (const Row& row : rows) {
    to.Execute("INSERT INTO USERTB (USERNAME, PASSWORD) VALUES (?, ?)", {row[0], row[1]});
    if (progress) progress("accounts", ++done, static_cast<std::int64_t>(rows.size()));
  }
}

// One picture at a time: pictures are few, and each may be large.
void CopyPictures(Connection& from, Connection& to, const auto& progress) {
  std::vector<Row> ids;
  from.Query("SELECT ID FROM IMAGE ORDER BY ID", {}, ids);
  std::int64_t done = 0;
  for (const Row& id : ids) {
    std::vector<Row> rows;
    from.Query("SELECT ID, NAME, TYPE, STIME, DATA FROM IMAGE WHERE ID = ?", {id[0]}, rows);
    if (rows.empty()) continue;
    Row& row = rows[0];
    if (!std::holds_alternative<Blob>(row[4].Get())) row[4] = Value(Blob{row[4].ToText()});
    to.Execute("INSERT INTO IMAGE (ID, NAME, TYPE, STIME, DATA) VALUES (?, ?, ?, ?, ?)", row);
    if (progress) progress("pictures", ++done, static_cast<std::int64_t>(ids.size()));
  }
}

}  // namespace

Migrated MigrateSite(
    const std::string& file, const std::string& url,
    const std::function<void(std::string_view, std::int64_t, std::int64_t)>& progress) {
  if (IsDatabaseUrl(file)) throw DataError("the source must be a site's SQLite file");
  if (!IsDatabaseUrl(url)) throw DataError(url + " is not a postgresql:// URL");
  auto source = Database::Open(file);
  Database::Create(url);
  PooledConnection from = source->Acquire();
  std::unique_ptr<Connection> to = ConnectPostgres(url);
  to->Begin();
  try {
    // Nobody adds a row between the check and the copy.
    RunScript(*to, "LOCK TABLE MESSAGE, USERTB, IMAGE IN EXCLUSIVE MODE");
    if (!PostgresIsEmpty(*to)) {
      throw DataError(url +
                      " already holds entries, accounts or pictures; migrate fills an "
                      "empty database only");
    }
    CopyEntries(*from, *to, progress);
    CopyAccounts(*from, *to, progress);
    CopyPictures(*from, *to, progress);
    // New rows take ids after the copied ones.
    RunScript(*to,
              "SELECT setval(pg_get_serial_sequence('message', 'id'), "
              "COALESCE((SELECT max(ID) FROM MESSAGE), 0) + 1, false); "
              "SELECT setval(pg_get_serial_sequence('image', 'id'), "
              "COALESCE((SELECT max(ID) FROM IMAGE), 0) + 1, false)");
    Migrated migrated{Count(*to, "SELECT count(*) FROM MESSAGE"),
                      Count(*to, "SELECT count(*) FROM USERTB"),
                      Count(*to, "SELECT count(*) FROM IMAGE")};
    to->Commit();
    return migrated;
  } catch (...) {
    to->Rollback();
    throw;
  }
}

}  // namespace tessaly::data
