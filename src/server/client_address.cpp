#include "server/client_address.h"

#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <optional>

namespace tessaly::server {
namespace {

std::optional<std::string> Canonical(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
  boost::system::error_code ec;
  auto address = boost::asio::ip::make_address(std::string(text), ec);
  if (ec) return std::nullopt;
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    address = boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6());
  }
  return address.to_string();
}

}  // namespace

bool IsIpAddress(std::string_view text) { return Canonical(text).has_value(); }

bool IsTrustedProxy(std::string_view peer, const std::vector<std::string>& trusted_proxies) {
  const auto address = Canonical(peer);
  return address && std::find(trusted_proxies.begin(), trusted_proxies.end(), *address) !=
                        trusted_proxies.end();
}

std::string ClientAddress(std::string_view peer, std::string_view forwarded_for,
                          const std::vector<std::string>& trusted_proxies) {
  const auto trusted = [&trusted_proxies](const std::string& address) {
    return IsTrustedProxy(address, trusted_proxies);
  };
  std::string client = Canonical(peer).value_or(std::string(peer));
  if (forwarded_for.empty() || !trusted(client)) return client;
  while (!forwarded_for.empty()) {
    const std::size_t comma = forwarded_for.rfind(',');
    const std::string_view item =
        comma == std::string_view::npos ? forwarded_for : forwarded_for.substr(comma + 1);
    forwarded_for =
        comma == std::string_view::npos ? std::string_view() : forwarded_for.substr(0, comma);
    const auto address = Canonical(item);
    if (!address) break;
    client = *address;
    if (!trusted(client)) break;
  }
  return client;
}

std::string AddressGroup(std::string_view address) {
  boost::system::error_code ec;
  const auto parsed = boost::asio::ip::make_address(std::string(address), ec);
  if (ec || !parsed.is_v6()) return std::string(address);
  auto bytes = parsed.to_v6().to_bytes();
  std::fill(bytes.begin() + 8, bytes.end(), 0);
  return boost::asio::ip::address_v6(bytes).to_string() + "/64";
}

}  // namespace tessaly::server
