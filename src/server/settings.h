// The server's numeric settings: for each, its key in the configuration file, its default and
// the values it accepts. The configuration loader, the command line's checks and help, and the
// server itself all read them from here, so a default or a bound is written once.
#ifndef TESSALY_SERVER_SETTINGS_H_
#define TESSALY_SERVER_SETTINGS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessaly::server {

template <typename T>
struct Setting {
  std::string_view key;  // in the configuration file; "table.name" for keys in a table
  T default_value;
  T min;
  T max;
};

inline constexpr std::size_t kKiB = 1024;
inline constexpr std::size_t kMiB = 1024 * kKiB;

// Server threads; 0: one per core.
inline constexpr Setting<int> kThreads{"threads", 0, 0, 1024};

// A request head beyond this is answered 431.
inline constexpr Setting<std::size_t> kMaxHeaderBytes{"limits.max_header_bytes", 16 * kKiB, kKiB,
                                                      kMiB};
// A request body beyond this is answered 413.
inline constexpr Setting<std::size_t> kMaxBodyBytes{"limits.max_body_bytes", 16 * kMiB, 0,
                                                    std::size_t{1} << 40};
// Memory that the bodies of all requests being read may hold together; a body that would pass
// it is answered 503. At least limits.max_body_bytes, so that every allowed body can fit.
inline constexpr Setting<std::size_t> kMaxBodyMemoryBytes{"limits.max_body_memory_bytes", 64 * kMiB,
                                                          0, std::size_t{1} << 40};
// Connections open at once.
// At the cap, a new connection takes the place of the one that has waited longest for a request
// (connection_table.h); when none waits, new ones wait in the kernel's queue until one closes.
inline constexpr Setting<std::size_t> kMaxConnections{"limits.max_connections", 1000, 1, 1'000'000};
// Connections that one address (an IPv6 /64 network) may hold at once; beyond it a new one is
// answered 503 and closed. Trusted proxies are not limited.
inline constexpr Setting<std::size_t> kMaxConnectionsPerAddress{
    "limits.max_connections_per_address", 100, 1, 1'000'000};
// The includes that one .shtml page expands, at every depth, and the bytes that they bring in
// together; beyond them the rest are left as failed includes.
inline constexpr Setting<std::size_t> kMaxIncludes{"limits.max_includes", 100, 0, 100'000};
inline constexpr Setting<std::size_t> kMaxIncludeBytes{"limits.max_include_bytes", kMiB, 0,
                                                       std::size_t{1} << 32};
// To receive one whole request, and to wait for the next one on a kept connection.
inline constexpr Setting<int> kReadTimeoutSeconds{"limits.read_timeout_seconds", 30, 1, 86400};
inline constexpr Setting<int> kIdleTimeoutSeconds{"limits.idle_timeout_seconds", 60, 1, 86400};
// Visitors' sessions kept at once; beyond it the least recently used one ends.
inline constexpr Setting<std::size_t> kMaxSessions{"limits.max_sessions", 100'000, 1, 100'000'000};
// Logged-on sessions kept at once, in a budget of their own that the visitors' sessions never
// take from; beyond it the least recently used logged-on session ends. Only a right password
// starts one, so this bounds what an administrator who logs on again and again leaves behind.
inline constexpr std::size_t kMaxAccountSessions = 1000;
// Threads that run searches (slow_pages.h), apart from the threads that answer every other
// page and file, so that searches never hold those up; a search waits for one briefly.
inline constexpr Setting<std::size_t> kMaxSearches{"limits.max_searches", 1, 1, 64};
// Bytes of public pages kept between requests (their text for the database state they show),
// shared evenly by the server threads; 0 keeps none.
inline constexpr Setting<std::size_t> kCacheMaxBytes{"cache.max_bytes", 64 * kMiB, 0,
                                                     std::size_t{1} << 40};
// The Cache-Control of the public pages' answers that shared caches may keep (server/page_run.h)
// unless the configuration says otherwise: every cache asks again before it uses one.
inline constexpr std::string_view kPublicCacheControl = "no-cache";
// A session's time-out in minutes: the default, and the range a page may set (Session.Timeout).
inline constexpr Setting<int> kSessionTimeoutMinutes{"session.timeout_minutes", 20, 1,
                                                     366 * 24 * 60};

// After SIGTERM, the seconds for which the node still serves while its health check says
// "draining", so that a load balancer sends it nothing new before it stops; 0 stops at once.
inline constexpr Setting<int> kDrainSeconds{"health.drain_seconds", 5, 0, 3600};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_SETTINGS_H_
