// The search index of the entries: an SQLite FTS5 table with the trigram tokenizer over the
// text of each entry as a reader sees it, kept in the database file.
//
// Triggers stored in the file note every entry that is added, changed or deleted, by this
// program or any other, in SEARCH_PENDING; CatchUpSearchIndex brings the index up to date from
// that list before a search runs, so a change is found by the very next search.
#ifndef TESSALY_DATA_SQLITE_SEARCH_INDEX_H_
#define TESSALY_DATA_SQLITE_SEARCH_INDEX_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "data/database.h"
#include "data/recordset.h"

struct sqlite3;

namespace tessaly::data {

// Creates the index and its triggers when the file has none, and marks every entry as pending
// then. Idempotent. Throws DataError.
void CreateSearchIndex(sqlite3* db);

// Turns a stored HTML title or content into the text a reader sees (text::VisibleText).
using VisibleTextFn = std::string (*)(std::string_view html);

// Indexes the pending entries, a batch per write transaction so writers are held up only
// briefly. `progress`, when given, is called after each batch with the entries done and the
// entries that were pending at the start. Throws DataError.
void CatchUpSearchIndex(
    Connection& connection, VisibleTextFn visible_text,
    const std::function<void(std::int64_t done, std::int64_t total)>& progress = {});

// The entries (ID, TITLE, STIME; newest first) whose visible text contains every one of
// `words` as a substring, ASCII letters in any case; every other character compared exactly.
// Words of three characters or more are looked up in the index; shorter ones are checked
// against the candidates' text, or, when no word is that long, against the text of the entries
// with the newest 100,000 ids only (a bounded scan). The words are bound values: nothing in
// them means anything to a query syntax. On PostgreSQL the same matches come from a trigram
// index (pg_trgm) on the visible text.
Query SearchQuery(Engine engine, const std::vector<std::string>& words);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SQLITE_SEARCH_INDEX_H_
