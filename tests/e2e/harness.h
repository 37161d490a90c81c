// End-to-end support: a temporary site, the real tessaly program serving it on a loopback port,
// and a plain HTTP/1.1 client that can also send malformed requests.
#ifndef TESSALY_TESTS_E2E_HARNESS_H_
#define TESSALY_TESTS_E2E_HARNESS_H_

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace tessaly::e2e {

// Runs tessaly with `args`, feeding `input` on stdin; returns exit status and captures output.
struct CommandResult {
  int status = -1;
  std::string out, err;
};
CommandResult RunTessaly(const std::vector<std::string>& args, const std::string& input = {});

struct HttpResponse {
  int status = 0;
  std::string reason;
  std::multimap<std::string, std::string> headers;  // names lower-cased
  std::string body;

  std::string Header(const std::string& name) const;
};

// One keep-alive connection; Send writes raw bytes, Read parses one answer.
class Connection {
 public:
  explicit Connection(int port);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Send(const std::string& bytes);
  // Reads one response; `head_only` for answers to HEAD. Returns status 0 if the peer closed.
  HttpResponse Read(bool head_only = false);
  // True when the server closed the connection (reads EOF within the timeout).
  bool ClosedByPeer(int timeout_ms = 3000);

 private:
  bool Fill();
  int fd_ = -1;
  std::string buffer_;
};

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
