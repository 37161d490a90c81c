#include "server/listen_address.h"

#include <charconv>
#include <string_view>

#include "base/errors.h"

namespace tessaly::server {

ListenAddress ParseListenAddress(const std::string& text) {
  auto bad = [&text](const std::string& why) {
    return ConfigError("bad listen address \"" + text + "\": " + why);
  };
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) throw bad("expected HOST:PORT");
  ListenAddress address;
  address.host = text.substr(0, colon);
  if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']') {
    address.host = address.host.substr(1, address.host.size() - 2);
  }
  if (address.host.empty()) throw bad("no host");
  std::string_view port = std::string_view(text).substr(colon + 1);
  unsigned value = 0;
  auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value > 65535) {
    throw bad("the port must be a number from 0 to 65535");
  }
  address.port = static_cast<std::uint16_t>(value);
  return address;
}

std::string ListenAddress::Url() const {
  bool v6 = host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace tessaly::server
