// The search index of the entries: the terms of each entry's visible text (text/search_terms.h)
// under a key that follows the list's order (data/search_order.h), on either engine.
//
// SQLite keeps them in an FTS5 table whose tokenizer is this program's (registered on every
// connection it opens, RegisterSearchTokenizer); PostgreSQL in a tsvector of the same terms
// with a GIN index, beside the entry's text folded as the terms are. Both give the same
// matches: every word of a search occurs in the title or the content as a reader sees them,
// ASCII letters in any case, every other character exactly; the words are bound values that
// mean nothing to any query syntax.
//
// Each engine notes every entry that is added, changed or deleted, by this program or any
// other, in SEARCH_PENDING; CatchUpSearchIndex brings the index up to date from that list before
// a search runs, so a change is found by the very next search. A database made before this
// index gets it when it is opened: the old one is dropped and every entry is pending.
#ifndef TESSALY_DATA_SEARCH_INDEX_H_
#define TESSALY_DATA_SEARCH_INDEX_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "data/database.h"
#include "data/recordset.h"

struct sqlite3;

namespace tessaly::data {

// Makes the index's tokenizer known to the SQLite connection `db`; every connection that
// writes or reads the index needs it. Throws DataError.
void RegisterSearchTokenizer(sqlite3* db);

// Creates the index and its triggers when the file has none, replacing an index of an older
// version, and marks every entry as pending then. Idempotent. Throws DataError.
void CreateSearchIndex(sqlite3* db);

// Turns a stored HTML title or content into the text a reader sees (text::VisibleText).
using VisibleTextFn = std::string (*)(std::string_view html);

// Indexes the pending entries, a batch per write transaction so writers are held up only
// briefly. `progress`, when given, is called after each batch with the entries done and the
// entries that were pending at the start. Throws DataError.
void CatchUpSearchIndex(
    Connection& connection, VisibleTextFn visible_text,
    const std::function<void(std::int64_t done, std::int64_t total)>& progress = {});

// One row, N: how many entries match all of `words` (text::SearchWords, at least one), counted
// in the index alone.
Query SearchCountQuery(Engine engine, const std::vector<std::string>& words);

// The rows `first` (from 0) to `first + rows` of the entries that match all of `words`, newest
// first: ID, TITLE, STIME. `total` is what SearchCountQuery gave in the same state: a page
// nearer the oldest end is read from that end, so each page costs about as much as the first.
Query SearchPageQuery(Engine engine, const std::vector<std::string>& words, std::int64_t first,
                      std::int64_t rows, std::int64_t total);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SEARCH_INDEX_H_
