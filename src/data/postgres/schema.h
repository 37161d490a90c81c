// The schema of a PostgreSQL log database: the entries, accounts and pictures as in a site's
// file, with row counters, the generation that every write bumps (connection.h), the nodes'
// leases (node_lease.h), the search index (search_index.h) and the visitors' tables
// (visitor_tables.h).
#ifndef TESSALY_DATA_POSTGRES_SCHEMA_H_
#define TESSALY_DATA_POSTGRES_SCHEMA_H_

#include <string>

#include "data/connection.h"

namespace tessaly::data {

// Creates whatever of the schema is missing (idempotent; never drops or changes rows), under
// a lock so that several nodes starting at once do not race. Throws DataError.
void CreatePostgresSchema(Connection& connection);

// Throws DataError unless the database holds a schema made by CreatePostgresSchema.
void CheckPostgresSchema(Connection& connection, const std::string& url);

// True when the database holds no entry, account or picture (a target for a migration).
bool PostgresIsEmpty(Connection& connection);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_POSTGRES_SCHEMA_H_
