#include "data/sqlite/search_index.h"

#include <sqlite3.h>

#include <algorithm>

#include "base/ascii.h"
#include "base/errors.h"
#include "data/recordset.h"
#include "data/sqlite/connection.h"

namespace tessaly::data {
namespace {

constexpr const char* kSearchSchema = R"sql(
CREATE VIRTUAL TABLE MESSAGE_SEARCH USING fts5(TEXT, tokenize = 'trigram');
CREATE TABLE IF NOT EXISTS SEARCH_PENDING (ID INTEGER PRIMARY KEY);
CREATE TRIGGER IF NOT EXISTS MESSAGE_SEARCH_ADDED AFTER INSERT ON MESSAGE
  BEGIN INSERT OR IGNORE INTO SEARCH_PENDING (ID) VALUES (NEW.ID); END;
CREATE TRIGGER IF NOT EXISTS MESSAGE_SEARCH_CHANGED AFTER UPDATE OF ID, TITLE, CONTENT ON MESSAGE
  BEGIN
    INSERT OR IGNORE INTO SEARCH_PENDING (ID) VALUES (OLD.ID);
    INSERT OR IGNORE INTO SEARCH_PENDING (ID) VALUES (NEW.ID);
  END;
CREATE TRIGGER IF NOT EXISTS MESSAGE_SEARCH_DELETED AFTER DELETE ON MESSAGE
  BEGIN INSERT OR IGNORE INTO SEARCH_PENDING (ID) VALUES (OLD.ID); END;
INSERT OR IGNORE INTO SEARCH_PENDING (ID) SELECT ID FROM MESSAGE;
)sql";

// Runs a prepared statement of `connection` with `params`; calls `row` for each result row.
template <typename RowFn>
void Run(SqliteConnection& connection, const std::string& sql, const std::vector<Value>& params,
         RowFn&& row) {
  sqlite3_stmt* stmt = connection.Prepare(sql);
  int index = 1;
  for (const Value& p : params) {
    const auto& v = p.Get();
    if (const auto* i = std::get_if<std::int64_t>(&v)) {
      sqlite3_bind_int64(stmt, index++, *i);
    } else {
      const std::string text = p.ToText();
      sqlite3_bind_text64(stmt, index++, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) row(stmt);
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE) {
    throw DataError(std::string("search index: ") + sqlite3_errmsg(connection.handle()));
  }
}

std::int64_t Count(SqliteConnection& connection, const std::string& sql) {
  std::int64_t n = 0;
  Run(connection, sql, {}, [&](sqlite3_stmt* stmt) { n = sqlite3_column_int64(stmt, 0); });
  return n;
}

std::string ColumnText(sqlite3_stmt* stmt, int i) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
  return text ? std::string(text, sqlite3_column_bytes(stmt, i)) : std::string();
}

// Indexes one batch inside a write transaction; returns how many entries it took.
std::int64_t IndexBatch(SqliteConnection& c, VisibleTextFn visible_text) {
  ExecSql(c.handle(), "BEGIN IMMEDIATE", "search index");
  try {
    std::vector<std::int64_t> ids;
    Run(c, "SELECT ID FROM SEARCH_PENDING ORDER BY ID LIMIT " + std::to_string(kIndexBatch), {},
        [&](sqlite3_stmt* stmt) { ids.push_back(sqlite3_column_int64(stmt, 0)); });
    for (std::int64_t id : ids) {
      Run(c, "DELETE FROM MESSAGE_SEARCH WHERE rowid = ?", {id}, [](sqlite3_stmt*) {});
      std::string visible;
      bool found = false;
      Run(c, "SELECT TITLE, CONTENT FROM MESSAGE WHERE ID = ?", {id}, [&](sqlite3_stmt* stmt) {
        visible = visible_text(ColumnText(stmt, 0)) + "\n" + visible_text(ColumnText(stmt, 1));
        found = true;
      });
      if (found) {
        Run(c, "INSERT INTO MESSAGE_SEARCH (rowid, TEXT) VALUES (?, ?)", {id, visible},
            [](sqlite3_stmt*) {});
      }
      Run(c, "DELETE FROM SEARCH_PENDING WHERE ID = ?", {id}, [](sqlite3_stmt*) {});
    }
    ExecSql(c.handle(), "COMMIT", "search index");
    return static_cast<std::int64_t>(ids.size());
  } catch (...) {
    sqlite3_exec(c.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

// Whether the index's folding of `word` is ASCII's: every character is ASCII or one of the
// CJK ranges (symbols, kana, ideographs), which have no case.
bool FoldsAsciiOnly(std::string_view word) {
  for (std::size_t i = 0; i < word.size(); ++i) {
    const auto lead = static_cast<unsigned char>(word[i]);
    if (lead < 0x80 || (lead & 0xC0) == 0x80) continue;
    if (lead < 0xE3 || lead > 0xE9) return false;  // leads of U+3000..U+9FFF
  }
  return true;
}

bool HasAsciiLetter(std::string_view word) {
  for (char c : word) {
    if (ascii::ToLower(c) != c || ascii::ToUpper(c) != c) return true;
  }
  return false;
}

}  // namespace

void CreateSearchIndex(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_schema WHERE name = 'MESSAGE_SEARCH'", -1, &stmt,
                         nullptr) != SQLITE_OK) {
    throw DataError(std::string("search index: ") + sqlite3_errmsg(db));
  }
  const bool exists = sqlite3_step(stmt) == SQLITE_ROW;
  sqlite3_finalize(stmt);
  if (!exists) ExecSql(db, kSearchSchema, "search index");
}

void CatchUpSqliteSearchIndex(SqliteConnection& connection, VisibleTextFn visible_text,
                              const ProgressFn& progress) {
  const std::int64_t total = Count(connection, "SELECT count(*) FROM SEARCH_PENDING");
  // Nothing pending costs this one count and no write lock: a search runs it every time.
  if (total == 0) return;
  std::int64_t done = 0;
  while (done < total) {
    const std::int64_t n = IndexBatch(connection, visible_text);
    if (n == 0) break;
    done += n;
    if (progress) progress(std::min(done, total), total);
  }
}

Query SqliteSearchQuery(const std::vector<std::string>& words) {
  Query query;
  query.table = "MESSAGE";
  std::string match;
  std::string filters;
  for (const std::string& word : words) {
    const std::string lower = ascii::ToLower(word);
    const bool indexed = IsIndexedWord(word);
    if (indexed) {
      std::string phrase = "\"";
      for (char c : lower) phrase += c == '"' ? std::string("\"\"") : std::string(1, c);
      if (!match.empty()) match += " AND ";
      match += phrase + "\"";
    }
    // The index folds the case of letters beyond ASCII too, so its matches of such a word are
    // checked against the text; a short word is looked for in the text alone.
    if (indexed && FoldsAsciiOnly(word)) continue;
    const bool fold = HasAsciiLetter(word);
    filters += fold ? " AND instr(lower(S.TEXT), ?) > 0" : " AND instr(S.TEXT, ?) > 0";
    query.params.emplace_back(fold ? lower : word);
  }
  query.sql =
      "SELECT M.ID AS ID, M.TITLE AS TITLE, M.STIME AS STIME FROM MESSAGE_SEARCH S "
      "CROSS JOIN MESSAGE M ON M.ID = S.rowid WHERE ";
  if (!match.empty()) {
    query.sql += "MESSAGE_SEARCH MATCH ?";
    query.params.insert(query.params.begin(), Value(match));
  } else {
    query.sql += "S.rowid > (SELECT coalesce(max(ID), 0) FROM MESSAGE) - " +
                 std::to_string(kShortWordScanEntries);
  }
  query.sql += filters + " ORDER BY M.STIME DESC, M.ID DESC";
  return query;
}

}  // namespace tessaly::data
