// The search index of an SQLite file (search.h): an FTS5 table with the trigram tokenizer over
// the visible text of each entry, kept in the file.
//
// Triggers stored in the file note every entry that is added, changed or deleted, by this
// program or any other, in SEARCH_PENDING; catching up brings the index up to date from that
// list before a search runs, so a change is found by the very next search.
#ifndef TESSALY_DATA_SQLITE_SEARCH_INDEX_H_
#define TESSALY_DATA_SQLITE_SEARCH_INDEX_H_

#include <string>
#include <vector>

#include "data/backend.h"
#include "data/search.h"

struct sqlite3;

namespace tessaly::data {

class SqliteConnection;
struct Query;

// Creates the index and its triggers when the file has none, and marks every entry as pending
// then. Idempotent. Throws DataError.
void CreateSearchIndex(sqlite3* db);

// Indexes the pending entries, a batch per write transaction. `progress`, when given, is
// called after each batch with the entries done and the entries pending at the start.
// Nothing pending costs one count and no write lock. Throws DataError.
void CatchUpSqliteSearchIndex(SqliteConnection& connection, VisibleTextFn visible_text,
                              const ProgressFn& progress);

// The query of the entries that contain every one of `words` (search.h). A word that the index
// answers is a phrase of an FTS5 MATCH; where the index's case folding is wider than ASCII's,
// and for short words, the text itself is checked.
Query SqliteSearchQuery(const std::vector<std::string>& words);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SQLITE_SEARCH_INDEX_H_
