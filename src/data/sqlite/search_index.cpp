#include "data/sqlite/search_index.h"

#include <sqlite3.h>

#include "base/ascii.h"
#include "base/errors.h"
#include "data/sqlite/connection.h"

namespace tessaly::data {
namespace {

// Entries indexed per write transaction.
constexpr int kBatch = 500;

// A query of short words alone, which the index cannot answer, reads the text of the entries
// with the newest this many ids, so that it costs a bounded time however large the log.
constexpr std::int64_t kShortWordScanEntries = 100'000;

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

void Exec(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw DataError("search index: " + text);
  }
}

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
  Exec(c.handle(), "BEGIN IMMEDIATE");
  try {
    std::vector<std::int64_t> ids;
    Run(c, "SELECT ID FROM SEARCH_PENDING ORDER BY ID LIMIT " + std::to_string(kBatch), {},
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
    Exec(c.handle(), "COMMIT");
    return static_cast<std::int64_t>(ids.size());
  } catch (...) {
    sqlite3_exec(c.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

// Characters, not bytes, decide whether the trigram index can answer a word.
std::size_t CodePoints(std::string_view word) {
  std::size_t n = 0;
  for (char c : word) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
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

// PostgreSQL: the index holds each entry's visible text with ASCII letters in lower case (as
// SQLite's lower() folds them: no other letter), in a trigram index that answers LIKE
// patterns of three characters or more; shorter words are matched by strpos on the same text.
std::int64_t IndexPostgresBatch(Connection& c, VisibleTextFn visible_text) {
  c.Begin();
  try {
    std::vector<Row> pending;
    // Locked, so that two nodes catching up at once take turns; a search waits for the batch
    // in flight rather than answering from an index that lacks it.
    c.Query(
        "SELECT ID FROM SEARCH_PENDING ORDER BY ID LIMIT " + std::to_string(kBatch) + " FOR UPDATE",
        {}, pending);
    std::string ids = "[";
    for (const Row& row : pending) ids += (ids.size() > 1 ? "," : "") + row[0].ToText();
    ids += "]";
    const std::string in_batch =
        " IN (SELECT value::bigint FROM json_array_elements_text(CAST(? AS json)))";
    std::vector<Row> entries;
    c.Query("SELECT ID, TITLE, CONTENT FROM MESSAGE WHERE ID" + in_batch, {ids}, entries);
    std::string texts = "[";
    for (const Row& entry : entries) {
      if (texts.size() > 1) texts += ',';
      texts += "{\"id\":" + entry[0].ToText() + ",\"text\":";
      AppendJsonString(texts, ascii::ToLower(visible_text(entry[1].ToText()) + "\n" +
                                             visible_text(entry[2].ToText())));
      texts += '}';
    }
    texts += "]";
    c.Execute("DELETE FROM MESSAGE_SEARCH WHERE ID" + in_batch, {ids});
    c.Execute(
        "INSERT INTO MESSAGE_SEARCH (ID, TEXT) SELECT id, text FROM "
        "json_to_recordset(CAST(? AS json)) AS r(id bigint, text text)",
        {texts});
    c.Execute("DELETE FROM SEARCH_PENDING WHERE ID" + in_batch, {ids});
    c.Commit();
    return static_cast<std::int64_t>(pending.size());
  } catch (...) {
    c.Rollback();
    throw;
  }
}

void CatchUpPostgres(Connection& c, VisibleTextFn visible_text,
                     const std::function<void(std::int64_t, std::int64_t)>& progress) {
  std::vector<Row> counted;
  c.Query("SELECT count(*) FROM SEARCH_PENDING", {}, counted);
  const std::int64_t total = counted.empty() ? 0 : counted[0][0].ToInt();
  if (total == 0) return;
  std::int64_t done = 0;
  while (true) {
    const std::int64_t n = IndexPostgresBatch(c, visible_text);
    if (n == 0) break;
    done += n;
    if (progress) progress(std::min(done, total), total);
  }
}

// A LIKE pattern that matches `word` anywhere, its own % _ and \ taken literally.
std::string ContainsPattern(std::string_view word) {
  std::string pattern = "%";
  for (char c : word) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + "%";
}

Query PostgresSearchQuery(const std::vector<std::string>& words) {
  Query query;
  query.table = "MESSAGE";
  query.sql =
      "SELECT M.ID AS ID, M.TITLE AS TITLE, M.STIME AS STIME FROM MESSAGE_SEARCH S "
      "JOIN MESSAGE M ON M.ID = S.ID WHERE TRUE";
  bool indexed = false;
  for (const std::string& word : words) {
    const std::string lower = ascii::ToLower(word);
    if (CodePoints(word) >= 3) {
      indexed = true;
      query.sql += " AND S.TEXT LIKE ?";
      query.params.emplace_back(ContainsPattern(lower));
    } else {
      query.sql += " AND strpos(S.TEXT, ?) > 0";
      query.params.emplace_back(lower);
    }
  }
  // Short words alone scan as many entries as on SQLite.
  if (!indexed) {
    query.sql += " AND S.ID > (SELECT coalesce(max(ID), 0) FROM MESSAGE) - " +
                 std::to_string(kShortWordScanEntries);
  }
  query.sql += " ORDER BY M.STIME DESC, M.ID DESC";
  return query;
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
  if (!exists) Exec(db, kSearchSchema);
}

void CatchUpSearchIndex(Connection& any, VisibleTextFn visible_text,
                        const std::function<void(std::int64_t, std::int64_t)>& progress) {
  if (any.engine() == Engine::kPostgres) {
    return CatchUpPostgres(any, visible_text, progress);
  }
  SqliteConnection& connection = AsSqlite(any);
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

Query SearchQuery(Engine engine, const std::vector<std::string>& words) {
  if (engine == Engine::kPostgres) return PostgresSearchQuery(words);
  Query query;
  query.table = "MESSAGE";
  std::string match;
  std::string filters;
  for (const std::string& word : words) {
    const std::string lower = ascii::ToLower(word);
    const bool indexed = CodePoints(word) >= 3;
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
