#include "e2e/nginx.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "support/http_client.h"
#include "support/temp_dir.h"

namespace tessaly::e2e {
namespace {

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace

Nginx::Nginx(const std::filesystem::path& dir, const std::function<std::string(int port)>& servers)
    : port_(FreePort()) {
  std::filesystem::create_directories(dir / "logs");
  // As root, the workers run as root too, so that they can read and write the test's folder.
  std::ofstream(dir / "nginx.conf")
      << (geteuid() == 0 ? "user root;\n" : "") << "worker_processes 1;\npid "
      << (dir / "nginx.pid").string() << ";\nerror_log " << (dir / "error.log").string()
      << ";\nevents { worker_connections 64; }\nhttp {\naccess_log off;\n"
         "types { text/html html shtml; text/css css; }\n"
         "default_type application/octet-stream;\nclient_body_temp_path "
      << (dir / "body").string() << ";\nproxy_temp_path " << (dir / "proxy").string() << ";\n"
      << servers(port_) << "\n}\n";
  pid_ = fork();
  if (pid_ == 0) {
    const std::string prefix = dir.string() + "/", conf = (dir / "nginx.conf").string();
    execlp("nginx", "nginx", "-p", prefix.c_str(), "-c", conf.c_str(), "-g", "daemon off;",
           nullptr);
    _exit(127);
  }
  for (int i = 0; i < 100; ++i) {
    try {
      testing::HttpConnection probe(port_);
      return;
    } catch (const std::exception&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ADD_FAILURE() << "nginx did not start: " << testing::ReadFile(dir / "error.log");
}

Nginx::~Nginx() {
  kill(pid_, SIGQUIT);
  waitpid(pid_, nullptr, 0);
}

}  // namespace tessaly::e2e
