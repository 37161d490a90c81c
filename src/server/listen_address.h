// The address the server listens on, as the settings write it.
#ifndef TESSALY_SERVER_LISTEN_ADDRESS_H_
#define TESSALY_SERVER_LISTEN_ADDRESS_H_

#include <cstdint>
#include <string>

namespace tessaly::server {

struct ListenAddress {
  std::string host;  // a name or an address literal, without the brackets of IPv6
  std::uint16_t port = 0;

  // "http://HOST:PORT", with brackets around an IPv6 literal.
  std::string Url() const;
};

// Parses "HOST:PORT" or "[IPV6]:PORT" (port 0 to 65535; 0 lets the system pick one). Looks
// nothing up. Throws tessaly::ConfigError "bad listen address "TEXT": WHY".
ListenAddress ParseListenAddress(const std::string& text);

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_LISTEN_ADDRESS_H_
