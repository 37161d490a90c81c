// End-to-end support: a temporary site, the real tessaly program serving it on a loopback port,
// and the shared HTTP client of the tests.
#ifndef TESSALY_TESTS_E2E_HARNESS_H_
#define TESSALY_TESTS_E2E_HARNESS_H_

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/http_client.h"
#include "support/temp_dir.h"

namespace tessaly::e2e {

// Runs tessaly with `args`, feeding `input` on stdin; returns exit status and captures output.
struct CommandResult {
  int status = -1;
  std::string out, err;
};
CommandResult RunTessaly(const std::vector<std::string>& args, const std::string& input = {});

// The shared test client, under the names these tests use.
using HttpResponse = testing::HttpResponse;
using Connection = testing::HttpConnection;

class Server {
 public:
  // Starts `tessaly serve --listen 127.0.0.1:0` with `args`; waits for its URL line.
  explicit Server(const std::vector<std::string>& args);
  ~Server();  // SIGTERM, then waits
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  int port() const { return port_; }
  // Sends SIGTERM and returns the exit status.
  int Stop();

  HttpResponse Get(const std::string& target, const std::string& extra_headers = {});
  HttpResponse Post(const std::string& target, const std::string& body,
                    const std::string& content_type = "application/x-www-form-urlencoded",
                    const std::string& extra_headers = {});
  HttpResponse Raw(const std::string& request, bool head_only = false);

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// A site folder with a database for the page /log/board and WebPath "log".
class Site {
 public:
  Site();
  const std::filesystem::path& root() const { return dir_.path(); }
  std::string database() const { return (dir_.path() / "log" / "logs.mdb").string(); }

 private:
  testing::TempDir dir_;
};

}  // namespace tessaly::e2e

#endif  // TESSALY_TESTS_E2E_HARNESS_H_
