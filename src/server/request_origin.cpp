#include "server/request_origin.h"

#include <optional>

#include "base/ascii.h"

namespace tessaly::server {
namespace {

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string_view LastListValue(std::string_view list) {
  const std::size_t comma = list.rfind(',');
  return Trim(comma == std::string_view::npos ? list : list.substr(comma + 1));
}

// An origin made comparable: scheme and host in lower case, the port always written out.
struct Origin {
  std::string scheme, host, port;
  bool operator==(const Origin&) const = default;
};

// `authority` is "host", "host:port", "[v6]" or "[v6]:port"; nothing when it is none of these
// (user information, an empty host, a port that is not a number).
std::optional<Origin> FromAuthority(std::string scheme, std::string_view authority) {
  std::string_view host = authority, port;
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      port = rest.substr(1);
    }
  } else if (const std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  if (host.empty() || host.find_first_of("@/\\?# ") != std::string_view::npos) return std::nullopt;
  for (char c : port) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  while (port.size() > 1 && port.front() == '0') port.remove_prefix(1);
  std::string written(port);
  if (written.empty()) written = scheme == "https" ? "443" : "80";
  return Origin{std::move(scheme), ascii::ToLower(host), std::move(written)};
}

// The origin of an absolute URL ("scheme://authority/..."): of a Referer, or an Origin header.
std::optional<Origin> FromUrl(std::string_view url) {
  const std::size_t separator = url.find("://");
  if (separator == std::string_view::npos) return std::nullopt;
  std::string scheme = ascii::ToLower(url.substr(0, separator));
  if (scheme != "http" && scheme != "https") return std::nullopt;
  std::string_view rest = url.substr(separator + 3);
  return FromAuthority(std::move(scheme), rest.substr(0, rest.find_first_of("/?#")));
}

}  // namespace

OwnOrigin RequestOrigin(std::string_view host, bool from_trusted_proxy,
                        std::string_view forwarded_proto, std::string_view forwarded_host) {
  OwnOrigin own{false, std::string(Trim(host))};
  if (!from_trusted_proxy) return own;
  own.https = ascii::EqualsNoCase(LastListValue(forwarded_proto), "https");
  if (std::string_view named = LastListValue(forwarded_host); !named.empty()) own.host = named;
  return own;
}

bool FromOtherOrigin(std::string_view fetch_site, std::string_view origin, std::string_view referer,
                     const OwnOrigin& own) {
  fetch_site = Trim(fetch_site);
  if (!fetch_site.empty()) return fetch_site != "same-origin" && fetch_site != "none";
  std::string_view sender = Trim(origin);
  if (sender.empty()) sender = Trim(referer);
  if (sender.empty()) return false;
  const auto theirs = FromUrl(sender);
  const auto ours = FromAuthority(own.https ? "https" : "http", own.host);
  return !theirs || !ours || *theirs != *ours;
}

}  // namespace tessaly::server
