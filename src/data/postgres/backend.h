// The PostgreSQL engine: a database on a server that several nodes of a site share, reached
// over libpq (connection.h), its schema (schema.h), the generation that names its newest state
// learnt from the node's lease (node_lease.h) or, while that does not hold, by a read that each
// event loop shares (generation_feed.h), searched through a GIN index of the search terms
// (search_index.h), the visitors' sessions kept for every node (visitor_tables.h). The only library
// that links libpq.
#ifndef TESSALY_DATA_POSTGRES_BACKEND_H_
#define TESSALY_DATA_POSTGRES_BACKEND_H_

#include <memory>
#include <string>

#include "data/backend.h"

namespace tessaly::data {

// The backend of the database at `url` (a libpq connection URI). Connects to nothing yet.
std::unique_ptr<Backend> MakePostgresBackend(const std::string& url);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_POSTGRES_BACKEND_H_
