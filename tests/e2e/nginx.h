// nginx as the end-to-end tests run it: its own folder, a free loopback port, and the server
// blocks a test gives inside a minimal http block. Stopped when the object goes.
#ifndef TESSALY_TESTS_E2E_NGINX_H_
#define TESSALY_TESTS_E2E_NGINX_H_

#include <filesystem>
#include <functional>
#include <string>

namespace tessaly::e2e {

class Nginx {
 public:
  // `servers(port)` is the text inside http { } (server blocks, upstreams) for nginx listening
  // on `port`. Fails the test when nginx does not start.
  Nginx(const std::filesystem::path& dir, const std::function<std::string(int port)>& servers);
  ~Nginx();
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;

  int port() const { return port_; }

 private:
  int port_;
  int pid_ = -1;
};

}  // namespace tessaly::e2e

#endif  // TESSALY_TESTS_E2E_NGINX_H_
