#include "data/sqlite/search_index.h"

#include <sqlite3.h>

#include <algorithm>

#include "base/errors.h"
#include "data/recordset.h"
#include "data/search_order.h"
#include "data/sqlite/connection.h"
#include "text/search_terms.h"

namespace tessaly::data {
namespace {

// The name under which the index's tokenizer is registered with SQLite.
constexpr const char* kTokenizerName = "tessaly_terms";

// Replaces the trigram index of earlier versions (MESSAGE_SEARCH): its table,
// and the trigger that did not note a change of STIME, which the key now
// follows.
constexpr const char* kSearchSchema = R"sql(
DROP TABLE IF EXISTS MESSAGE_SEARCH;
DROP TRIGGER IF EXISTS MESSAGE_SEARCH_CHANGED;
CREATE VIRTUAL TABLE SEARCH_TERMS USING fts5(TEXT, tokenize = 'tessaly_terms', columnsize = 0);
CREATE TABLE SEARCH_ENTRY (KEY INTEGER PRIMARY KEY, ID INTEGER NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS SEARCH_PENDING (ID INTEGER PRIMARY KEY);
CREATE TRIGGER IF NOT EXISTS MESSAGE_SEARCH_ADDED AFTER INSERT ON MESSAGE
  BEGIN INSERT OR IGNORE INTO SEARCH_PENDING (ID) VALUES (NEW.ID); END;
CREATE TRIGGER MESSAGE_SEARCH_CHANGED AFTER UPDATE OF ID, TITLE, CONTENT, STIME ON MESSAGE
  BEGIN
    INSERT OR IGNORE INTO SEARCH_PENDING (ID) VALUES (OLD.ID);
    INSERT OR IGNORE INTO SEARCH_PENDING (ID) VALUES (NEW.ID);
  END;
CREATE TRIGGER IF NOT EXISTS MESSAGE_SEARCH_DELETED AFTER DELETE ON MESSAGE
  BEGIN INSERT OR IGNORE INTO SEARCH_PENDING (ID) VALUES (OLD.ID); END;
INSERT OR IGNORE INTO SEARCH_PENDING (ID) SELECT ID FROM MESSAGE;
)sql";

// --- the tokenizer, as SQLite's FTS5 calls it

using TokenFn = int (*)(void* context, int flags, const char* token, int bytes, int start, int end);

int CreateTokenizer(void*, const char**, int, Fts5Tokenizer** out) {
  static int instance;  // stateless: one for every table
  *out = reinterpret_cast<Fts5Tokenizer*>(&instance);
  return SQLITE_OK;
}

void DeleteTokenizer(Fts5Tokenizer*) {}

// A document's terms with their positions; a query's phrase (one word) as its
// terms.
int Tokenize(Fts5Tokenizer*, void* context, int flags, const char* bytes, int size, TokenFn token) {
  const std::string_view text(bytes ? bytes : "", size > 0 ? static_cast<std::size_t>(size) : 0);
  int rc = SQLITE_OK;
  try {
    if (flags & FTS5_TOKENIZE_QUERY) {
      for (const std::string& term : text::WordTerms(text)) {
        rc = token(context, 0, term.data(), static_cast<int>(term.size()), 0, size);
        if (rc != SQLITE_OK) break;
      }
      return rc;
    }
    text::ForEachTextTerm(text, [&](std::string_view term, std::size_t at, bool same_position) {
      if (rc != SQLITE_OK) return;
      const int start = static_cast<int>(at);
      rc = token(context, same_position ? FTS5_TOKEN_COLOCATED : 0, term.data(),
                 static_cast<int>(term.size()), start, start + static_cast<int>(term.size()));
    });
  } catch (...) {
    return SQLITE_NOMEM;
  }
  return rc;
}

// Runs a prepared statement of `connection` with `params`; calls `row` for each
// result row.
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

void Run(SqliteConnection& connection, const std::string& sql, const std::vector<Value>& params) {
  Run(connection, sql, params, [](sqlite3_stmt*) {});
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

// Index batches are written without waiting for the disk at each commit: a
// batch lost to a crash is lost with its removal from SEARCH_PENDING (one
// transaction), so it is indexed again. A larger page cache keeps FTS5's merges
// of segments from reading pages again. The connection's own settings
// (OpenSqliteHandle; SQLite's default cache) come back afterwards.
class IndexWrites {
 public:
  explicit IndexWrites(sqlite3* db) : db_(db) {
    sqlite3_exec(db_, "PRAGMA synchronous=NORMAL; PRAGMA cache_size=-65536", nullptr, nullptr,
                 nullptr);
  }
  ~IndexWrites() {
    sqlite3_exec(db_, "PRAGMA synchronous=FULL; PRAGMA cache_size=-2000", nullptr, nullptr,
                 nullptr);
  }
  IndexWrites(const IndexWrites&) = delete;
  IndexWrites& operator=(const IndexWrites&) = delete;

 private:
  sqlite3* const db_;
};

// A pending entry as the batch reads it.
struct Pending {
  std::int64_t id = 0;
  bool exists = false;  // still in MESSAGE
  std::string title, content, stime;
};

// Indexes one batch inside a write transaction; returns how many entries it
// took.
std::int64_t IndexBatch(SqliteConnection& c, VisibleTextFn visible_text) {
  ExecSql(c.handle(), "BEGIN IMMEDIATE", "search index");
  try {
    std::vector<Pending> batch;
    Run(c,
        "SELECT P.ID, M.ID IS NOT NULL, M.TITLE, M.CONTENT, M.STIME FROM "
        "SEARCH_PENDING P "
        "LEFT JOIN MESSAGE M ON M.ID = P.ID ORDER BY P.ID LIMIT " +
            std::to_string(kIndexBatch),
        {}, [&](sqlite3_stmt* stmt) {
          batch.push_back({sqlite3_column_int64(stmt, 0), sqlite3_column_int(stmt, 1) != 0,
                           ColumnText(stmt, 2), ColumnText(stmt, 3), ColumnText(stmt, 4)});
        });
    for (const Pending& entry : batch) {
      std::vector<std::int64_t> old_keys;
      Run(c, "SELECT KEY FROM SEARCH_ENTRY WHERE ID = ?", {entry.id},
          [&](sqlite3_stmt* stmt) { old_keys.push_back(sqlite3_column_int64(stmt, 0)); });
      for (std::int64_t key : old_keys) {
        Run(c, "DELETE FROM SEARCH_TERMS WHERE rowid = ?", {key});
        Run(c, "DELETE FROM SEARCH_ENTRY WHERE KEY = ?", {key});
      }
      if (entry.exists) {
        std::int64_t key = SearchOrderKey(entry.stime, entry.id);
        // Only keys of ids beyond the ordered range can meet another's.
        while (key < 0 && Count(c, "SELECT count(*) FROM SEARCH_ENTRY WHERE KEY = " +
                                       std::to_string(key)) > 0) {
          --key;
        }
        Run(c, "INSERT INTO SEARCH_TERMS (rowid, TEXT) VALUES (?, ?)",
            {key, IndexedText(visible_text, entry.title, entry.content)});
        Run(c, "INSERT INTO SEARCH_ENTRY (KEY, ID) VALUES (?, ?)", {key, entry.id});
      }
      Run(c, "DELETE FROM SEARCH_PENDING WHERE ID = ?", {entry.id});
    }
    ExecSql(c.handle(), "COMMIT", "search index");
    return static_cast<std::int64_t>(batch.size());
  } catch (...) {
    sqlite3_exec(c.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

// The FTS5 expression that matches every word: each a quoted phrase, which the
// tokenizer turns into the word's terms.
std::string SqliteMatch(const std::vector<std::string>& words) {
  std::string match;
  for (const std::string& word : words) {
    if (!match.empty()) match += " AND ";
    match += '"';
    for (char c : word) match += c == '"' ? std::string("\"\"") : std::string(1, c);
    match += '"';
  }
  return match;
}

}  // namespace

void RegisterSearchTokenizer(sqlite3* db) {
  fts5_api* api = nullptr;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &stmt, nullptr) != SQLITE_OK) {
    throw DataError(std::string("search index: ") + sqlite3_errmsg(db));
  }
  sqlite3_bind_pointer(stmt, 1, &api, "fts5_api_ptr", nullptr);
  sqlite3_step(stmt);
  sqlite3_finalize(stmt);
  if (api == nullptr) throw DataError("search index: this SQLite has no FTS5");
  static fts5_tokenizer tokenizer{CreateTokenizer, DeleteTokenizer, Tokenize};
  if (api->xCreateTokenizer(api, kTokenizerName, nullptr, &tokenizer, nullptr) != SQLITE_OK) {
    throw DataError(std::string("search index: ") + sqlite3_errmsg(db));
  }
}

void CreateSearchIndex(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_schema WHERE name = 'SEARCH_TERMS'", -1, &stmt,
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
  // Nothing pending costs this one count and no write lock: a search runs it
  // every time.
  if (total == 0) return;
  const IndexWrites writes(connection.handle());
  std::int64_t done = 0;
  while (true) {
    const std::int64_t n = IndexBatch(connection, visible_text);
    if (n == 0) break;
    done += n;
    if (progress) progress(std::min(done, total), total);
  }
}

Query SqliteSearchCountQuery(const std::vector<std::string>& words) {
  return {"SELECT count(*) AS N FROM SEARCH_TERMS WHERE SEARCH_TERMS MATCH ?",
          {Value(SqliteMatch(words))},
          ""};
}

Query SqliteSearchPageQuery(const std::vector<std::string>& words, std::int64_t first,
                            std::int64_t rows, std::int64_t total) {
  const PageWindow window = WindowOf(first, rows, total);
  Query query;
  query.table = "MESSAGE";
  // FTS5 hands out its rows in key order, so the page costs its own rows and
  // the skipped ones' keys, never a sort.
  query.sql =
      "SELECT M.ID AS ID, M.TITLE AS TITLE, M.STIME AS STIME FROM "
      "(SELECT rowid AS K FROM "
      "SEARCH_TERMS WHERE SEARCH_TERMS MATCH ? ORDER BY rowid" +
      std::string(window.from_oldest ? " ASC" : " DESC") +
      " LIMIT ? OFFSET ?) S CROSS JOIN SEARCH_ENTRY E ON E.KEY = S.K "
      "CROSS JOIN MESSAGE M ON M.ID = E.ID ORDER BY S.K DESC";
  query.params = {Value(SqliteMatch(words)), Value(window.limit), Value(window.offset)};
  query.batch_rows = std::max<std::int64_t>(window.limit, 1) + 1;
  return query;
}

}  // namespace tessaly::data
