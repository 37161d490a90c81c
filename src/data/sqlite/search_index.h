// The search index of an SQLite file (search.h): an FTS5 table whose tokenizer is this
// program's (registered on every connection it opens), its rows keyed in the list's order,
// beside a table from entry ids to keys, kept in the file.
//
// Triggers stored in the file note every entry that is added, changed or deleted, by this
// program or any other, in SEARCH_PENDING; catching up brings the index up to date from that
// list before a search runs, so a change is found by the very next search.
#ifndef TESSALY_DATA_SQLITE_SEARCH_INDEX_H_
#define TESSALY_DATA_SQLITE_SEARCH_INDEX_H_

#include <cstdint>
#include <string>
#include <vector>

#include "data/backend.h"
#include "data/search.h"

struct sqlite3;

namespace tessaly::data {

class SqliteConnection;
struct Query;

// Makes the index's tokenizer known to the connection `db`; every connection that writes or
// reads the index needs it. Throws DataError.
void RegisterSearchTokenizer(sqlite3* db);

// Creates the index and its triggers when the file has none, replacing the trigram index of an
// earlier version, and marks every entry as pending then. Idempotent. Throws DataError.
void CreateSearchIndex(sqlite3* db);

// Indexes the pending entries, a batch per write transaction. `progress`, when given, is
// called after each batch with the entries done and the entries pending at the start.
// Nothing pending costs one count and no write lock. Throws DataError.
void CatchUpSqliteSearchIndex(SqliteConnection& connection, VisibleTextFn visible_text,
                              const ProgressFn& progress);

// One row, N: the entries that match every one of `words`, counted in the index alone.
Query SqliteSearchCountQuery(const std::vector<std::string>& words);
// Rows `first` to `first + rows` of the matches of `words`, newest first (ID, TITLE, STIME),
// of `total` matches (PageWindow, search.h).
Query SqliteSearchPageQuery(const std::vector<std::string>& words, std::int64_t first,
                            std::int64_t rows, std::int64_t total);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SQLITE_SEARCH_INDEX_H_
