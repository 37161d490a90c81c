// Who sent a request. Behind a reverse proxy the connection comes from the proxy, which names
// the client in X-Forwarded-For; that header is believed only from the proxies that the
// settings name, since any client can send it.
#ifndef TESSALY_SERVER_CLIENT_ADDRESS_H_
#define TESSALY_SERVER_CLIENT_ADDRESS_H_

#include <string>
#include <string_view>
#include <vector>

namespace tessaly::server {

// The client's address for a request from `peer` whose X-Forwarded-For headers, joined by
// ", ", are `forwarded_for` (empty when none). When `peer` is one of `trusted_proxies`, the
// list is read from its right end (each proxy appends the address it saw): trusted proxies are
// passed over, and the first other address is the client's. A value that is not an IP address
// ends the walk, and the last address believed so far is taken. Otherwise the peer is the
// client. Addresses come back in their canonical text form.
std::string ClientAddress(std::string_view peer, std::string_view forwarded_for,
                          const std::vector<std::string>& trusted_proxies);

// True when `peer` is one of `trusted_proxies`, whose forwarded headers are believed.
bool IsTrustedProxy(std::string_view peer, const std::vector<std::string>& trusted_proxies);

// True when `text` is an IPv4 or IPv6 address.
bool IsIpAddress(std::string_view text);

// The group whose connections count together against the limit per address: an IPv4 address
// alone ("192.0.2.7"), an IPv6 address with the rest of its /64 network ("2001:db8:1:2::/64"),
// which one subscriber is given whole. `address` as ClientAddress gives it; a text that is no
// address is its own group.
std::string AddressGroup(std::string_view address);

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_CLIENT_ADDRESS_H_
