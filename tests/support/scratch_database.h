// A database of its own on the PostgreSQL server that TESSALY_TEST_POSTGRES names (a URL of any
// database there, used to create and drop others), dropped at the end.
#ifndef TESSALY_TESTS_SUPPORT_SCRATCH_DATABASE_H_
#define TESSALY_TESTS_SUPPORT_SCRATCH_DATABASE_H_

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

#include "support/entries.h"

namespace tessaly::support {

// The server's URL, "" when no server is named.
inline std::string PostgresServerUrl() {
  const char* url = std::getenv("TESSALY_TEST_POSTGRES");
  return url ? url : "";
}

struct ScratchDatabase {
  ScratchDatabase() {
    static std::atomic<int> made{0};
    name = "tessaly_test_" + std::to_string(getpid()) + "_" + std::to_string(made++);
    const std::string server = PostgresServerUrl();
    Script(server, "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
    Script(server, "CREATE DATABASE " + name);
    // The server's URL with its database name replaced.
    const std::size_t authority = server.find("://") + 3, query = server.find('?', authority);
    url = server.substr(0, std::min(server.find('/', authority), query)) + "/" + name +
          (query == std::string::npos ? "" : server.substr(query));
  }
  ~ScratchDatabase() {
    try {
      Script(PostgresServerUrl(), "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
    } catch (const std::exception&) {
      // left for the cluster's removal at the end of the run
    }
  }
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;

  std::string name, url;
};

}  // namespace tessaly::support

#endif  // TESSALY_TESTS_SUPPORT_SCRATCH_DATABASE_H_
