// A TCP connection to a local tessaly from a chosen loopback address (such as 127.0.0.2), as
// another client would make it: the logon guard tells clients apart by that address.
#ifndef TESSALY_TESTS_E2E_ADMIN_LOOPBACK_H_
#define TESSALY_TESTS_E2E_ADMIN_LOOPBACK_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tessaly::e2e {

// A connected socket from `source` to 127.0.0.1:`port`. Throws std::runtime_error.
inline int ConnectFrom(const std::string& source, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in from{}, to{};
  from.sin_family = to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  if (fd < 0 || inet_pton(AF_INET, source.c_str(), &from.sin_addr) != 1 ||
      inet_pton(AF_INET, "127.0.0.1", &to.sin_addr) != 1 ||
      bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("cannot connect from " + source);
  }
  return fd;
}

}  // namespace tessaly::e2e

#endif  // TESSALY_TESTS_E2E_ADMIN_LOOPBACK_H_
