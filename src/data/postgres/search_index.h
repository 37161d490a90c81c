// The search index of a PostgreSQL database (search.h): each entry's row in SEARCH_TERMS holds
// its key in the list's order, its visible text folded as the terms are (ASCII letters in lower
// case), and its distinct terms as a tsvector under a GIN index. A word of one or two
// characters is one term, which the index answers; a longer word's bigrams narrow the entries
// to those that hold them all, and its text is checked for the word itself. An entry with too
// many distinct terms for a tsvector is kept without them and matched by its text alone.
//
// Statement triggers note every entry that is added, changed or deleted, by any program, in
// SEARCH_PENDING; catching up brings the index up to date from that list before a search runs.
#ifndef TESSALY_DATA_POSTGRES_SEARCH_INDEX_H_
#define TESSALY_DATA_POSTGRES_SEARCH_INDEX_H_

#include <cstdint>
#include <string>
#include <vector>

#include "data/backend.h"
#include "data/search.h"

namespace tessaly::data {

struct Query;

// Indexes the pending entries, a batch per transaction; the batch is locked, so that two nodes
// catching up at once take turns, and a search waits for the batch in flight rather than
// answering from an index that lacks it. `progress` as for SQLite. Throws DataError.
void CatchUpPostgresSearchIndex(Connection& connection, VisibleTextFn visible_text,
                                const ProgressFn& progress);

// As SqliteSearchCountQuery and SqliteSearchPageQuery.
Query PostgresSearchCountQuery(const std::vector<std::string>& words);
Query PostgresSearchPageQuery(const std::vector<std::string>& words, std::int64_t first,
                              std::int64_t rows, std::int64_t total);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_POSTGRES_SEARCH_INDEX_H_
