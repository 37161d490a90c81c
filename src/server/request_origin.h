// Where a request was sent to, and whether a page of another origin made it. A browser sends a
// cookie of this host with requests that pages of other ports, or of sibling hosts of the same
// site, make; the headers read here tell those requests apart, so that they cannot change
// anything through the visitor's session. Behind a reverse proxy the client's scheme and host
// are what the proxy forwards, believed only from the proxies that the settings trust.
#ifndef TESSALY_SERVER_REQUEST_ORIGIN_H_
#define TESSALY_SERVER_REQUEST_ORIGIN_H_

#include <string>
#include <string_view>

namespace tessaly::server {

// The origin a request was sent to: its scheme, and its host with the port when one was given.
struct OwnOrigin {
  bool https = false;
  std::string host;
};

// The origin of a request whose Host header is `host`. From a trusted proxy, the scheme is
// what X-Forwarded-Proto names ("https", else "http") and the host what X-Forwarded-Host names
// when it is sent; of a list in either header, the last value counts, the one that the trusted
// proxy itself added. The forwarded headers of any other peer are ignored.
OwnOrigin RequestOrigin(std::string_view host, bool from_trusted_proxy,
                        std::string_view forwarded_proto, std::string_view forwarded_host);

// True when a browser tells that a page of an origin other than `own` made the request: by
// Sec-Fetch-Site (`fetch_site`) when it is sent, which allows only "same-origin" and "none" (the
// user's own typing or bookmark); else by the Origin header, else by the Referer header, whose
// scheme, host and port must be `own`'s (a port left out is the scheme's own; letter case of
// the scheme and host does not count). An empty value counts as not sent; a request that sends
// none of the three (a tool's) is not from another origin.
bool FromOtherOrigin(std::string_view fetch_site, std::string_view origin, std::string_view referer,
                     const OwnOrigin& own);

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_REQUEST_ORIGIN_H_
