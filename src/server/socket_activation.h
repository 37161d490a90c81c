// Listening sockets handed over by the service manager (systemd's socket activation, or
// systemd-socket-activate): the process inherits them open from descriptor 3 on and is told so
// by LISTEN_PID (its own process id) and LISTEN_FDS (how many). While the process restarts,
// the manager keeps the sockets open, so new connections wait in the kernel's queue instead of
// being refused.
#ifndef TESSALY_SERVER_SOCKET_ACTIVATION_H_
#define TESSALY_SERVER_SOCKET_ACTIVATION_H_

#include <optional>

namespace tessaly::server {

// The first descriptor of the activation protocol.
inline constexpr int kFirstActivatedSocket = 3;

// The listening TCP socket handed to this process, or nothing when none was (no LISTEN_FDS, or
// one meant for another process). Unsets the variables, so that a child started later does not
// take them for its own, and marks the socket close-on-exec. Throws tessaly::ConfigError when
// the handed descriptors are not exactly one listening TCP socket.
std::optional<int> TakeActivatedSocket();

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_SOCKET_ACTIVATION_H_
