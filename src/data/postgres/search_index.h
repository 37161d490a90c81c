// The search index of a PostgreSQL database (search.h): each entry's visible text with ASCII
// letters in lower case (as SQLite's lower() folds them: no other letter) in MESSAGE_SEARCH,
// under a trigram index (pg_trgm) that answers LIKE patterns of three characters or more;
// shorter words are matched by strpos on the same text.
//
// Statement triggers note every entry that is added, changed or deleted, by any program, in
// SEARCH_PENDING; catching up brings the index up to date from that list before a search runs.
#ifndef TESSALY_DATA_POSTGRES_SEARCH_INDEX_H_
#define TESSALY_DATA_POSTGRES_SEARCH_INDEX_H_

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

// The query of the entries that contain every one of `words` (search.h).
Query PostgresSearchQuery(const std::vector<std::string>& words);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_POSTGRES_SEARCH_INDEX_H_
