#include "server/socket_activation.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/errors.h"

namespace tessaly::server {
namespace {

// The variable's value as a positive number, or 0.
long PositiveNumber(const char* name) {
  const char* text = std::getenv(name);
  if (!text || !*text) return 0;
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  return *end == '\0' && number > 0 ? number : 0;
}

bool IsListeningStream(int fd) {
  int type = 0, listening = 0, family = 0;
  socklen_t size = sizeof type;
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM) {
    return false;
  }
  size = sizeof listening;
  if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening) {
    return false;
  }
  size = sizeof family;
  return ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &family, &size) == 0 &&
         (family == AF_INET || family == AF_INET6);
}

}  // namespace

std::optional<int> TakeActivatedSocket() {
  const long pid = PositiveNumber("LISTEN_PID");
  const long count = PositiveNumber("LISTEN_FDS");
  ::unsetenv("LISTEN_PID");
  ::unsetenv("LISTEN_FDS");
  ::unsetenv("LISTEN_FDNAMES");
  if (pid != static_cast<long>(::getpid()) || count == 0) return std::nullopt;
  if (count != 1) {
    throw ConfigError("the service manager passed " + std::to_string(count) +
                      " sockets; tessaly listens on one");
  }
  const int fd = kFirstActivatedSocket;
  if (!IsListeningStream(fd)) {
    throw ConfigError("the socket passed by the service manager is not a listening TCP socket");
  }
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fd;
}

}  // namespace tessaly::server
