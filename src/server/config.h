// Server settings: the pages that host the log component, the site folder, the listener and
// the limits. Loaded from a TOML file; command-line flags override it.
#ifndef TESSALY_SERVER_CONFIG_H_
#define TESSALY_SERVER_CONFIG_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/variant.h"
#include "pages/site_texts.h"
#include "server/settings.h"

namespace tessaly::server {

// One page that hosts the component, with the three properties its script sets before Main.
// The properties stay Variants: the component applies its own coercions to them.
struct PageConfig {
  std::string path = "/log/board";  // request path, which is also its SCRIPT_NAME
  host::Variant web_path = std::string("log");
  host::Variant hot_news = std::int32_t{10};
  host::Variant image_size = std::int32_t{1048576};
};

struct ServerConfig {
  std::string root = "site";
  std::string listen = "127.0.0.1:8080";
  int threads = kThreads.default_value;
  std::vector<PageConfig> pages;  // empty: one default page

  std::size_t max_header_bytes = kMaxHeaderBytes.default_value;
  std::size_t max_body_bytes = kMaxBodyBytes.default_value;
  std::size_t max_body_memory_bytes = kMaxBodyMemoryBytes.default_value;
  std::size_t max_connections = kMaxConnections.default_value;
  std::size_t max_connections_per_address = kMaxConnectionsPerAddress.default_value;
  std::size_t max_includes = kMaxIncludes.default_value;
  std::size_t max_include_bytes = kMaxIncludeBytes.default_value;
  int read_timeout_seconds = kReadTimeoutSeconds.default_value;
  int idle_timeout_seconds = kIdleTimeoutSeconds.default_value;
  std::size_t max_sessions = kMaxSessions.default_value;
  std::size_t max_searches = kMaxSearches.default_value;
  int session_timeout_minutes = kSessionTimeoutMinutes.default_value;
  bool sessions_in_database = false;  // [session] store = "database"
  std::size_t cache_max_bytes = kCacheMaxBytes.default_value;
  std::string public_cache_control{kPublicCacheControl};  // [cache] public_cache_control
  std::string access_log;                                 // file path; empty: no access log
  // access_log_format = "json": each line one JSON object (access_log.h); else plain text.
  bool access_log_json = false;
  // A PostgreSQL database ("postgresql://...") that every page uses; empty: each page's file.
  std::string database_url;
  // Peers whose X-Forwarded-For names the client (canonical address texts); empty: none.
  std::vector<std::string> trusted_proxies;
  // Where a load balancer asks whether the node can serve (health.h), and how long the node
  // drains before it stops on SIGTERM.
  std::string health_path = "/healthz";
  int drain_seconds = kDrainSeconds.default_value;
  // [metrics]: the path that answers the metrics (empty: none), and the client addresses
  // (canonical texts) that it answers; every other client gets 404.
  std::string metrics_path = "/metrics";
  std::vector<std::string> metrics_allow = {"127.0.0.1", "::1"};

  SiteTexts texts;
};

// Reads a TOML file over `config` (keys it does not name keep their values). Throws
// tessaly::ConfigError with a one-line message naming the file and the bad key ("FILE: unknown
// key limits.foo", "FILE: bad value for threads: ..."); `config` is then left unchanged.
//
// The file, every key optional; the numeric keys, their defaults and ranges are those of
// settings.h:
//
//   root = "site"                  # the site's root folder
//   listen = "127.0.0.1:8080"      # HOST:PORT, [IPV6]:PORT; port 0 picks a free one
//   threads = 0                    # 0: one per core
//   access_log = "access.log"      # one line per request; absent or "": none
//   access_log_format = "text"     # or "json": one JSON object a line (access_log.h)
//   trusted_proxies = ["127.0.0.1"]  # reverse proxies whose X-Forwarded-For names the
//                                  # client (for the logon guard and the access log), and
//                                  # whose X-Forwarded-Proto and -Host name the scheme and host
//
//   [limits]                       # max_header_bytes, max_body_bytes, max_body_memory_bytes,
//   max_body_bytes = 16777216      # max_connections, max_connections_per_address,
//                                  # max_includes, max_include_bytes, read_timeout_seconds,
//                                  # idle_timeout_seconds, max_sessions, max_searches
//
//   [database]
//   url = "postgresql://user@host/db"  # every page on this PostgreSQL database; absent:
//                                  # each page's SQLite file under the site folder
//
//   [session]
//   timeout_minutes = 20
//   store = "memory"               # or "database": sessions and the logon guard's counts in
//                                  # the [database] that every node shares
//
//   [metrics]                      # the Prometheus text format (metrics.h)
//   path = "/metrics"              # "": not served
//   allow = ["127.0.0.1", "::1"]   # client addresses answered; others get 404
//
//   [cache]
//   max_bytes = 67108864           # public pages kept, all threads together; 0: none
//   public_cache_control = "no-cache"  # of the public pages that shared caches may keep
//                                  # (server/page_run.h); "max-age=0, s-maxage=1" lets a
//                                  # cache in front keep them a second (deploy/nginx.conf)
//
//   [health]
//   path = "/healthz"              # 200 "ok" or 503 and why; a path as a page's, not a page's
//   drain_seconds = 5              # after SIGTERM, serve on while saying "draining"
//
//   [site]                         # SiteTexts: label, webmaster_email, notice,
//   label = "Tessaly"              # credit_text, credit_url (strings), url (the site's
//                                  # address for the feed's links, http:// or https://)
//
//   [[page]]                       # repeatable; when present, replaces the pages
//   path = "/log/board"            # starts with "/"; no '?', '#', '%' or '\'; unique
//   web_path = "log"               # string
//   hot_news = 10                  # integer, float or string, passed to the component as
//   image_size = 1048576           # given (an integer beyond int32 becomes a double)
void LoadConfigFile(const std::string& path, ServerConfig& config);

// The number of server threads that `config` asks for: `threads`, or one per core for 0.
unsigned ServingThreads(const ServerConfig& config);

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_CONFIG_H_
