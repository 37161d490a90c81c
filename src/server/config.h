// Server settings: the pages that host the log component, the site folder, the listener and
// the limits. Loaded from a TOML file; command-line flags override it.
#ifndef TESSALY_SERVER_CONFIG_H_
#define TESSALY_SERVER_CONFIG_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pages/site_texts.h"
#include "host/variant.h"

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
  int threads = 0;                // 0: one per core
  std::vector<PageConfig> pages;  // empty: one default page

  std::size_t max_header_bytes = 16 * 1024;
  std::size_t max_body_bytes = 16 * 1024 * 1024;
  int read_timeout_seconds = 30;  // to receive one whole request
  int idle_timeout_seconds = 60;  // keep-alive between requests
  std::size_t max_sessions = 100000;
  int session_timeout_minutes = 20;
  std::string access_log;  // file path; empty: no access log

  SiteTexts texts;
};

// Reads a TOML file over `config` (keys it does not name keep their values). Throws
// std::runtime_error with a one-line message naming the file and the bad key ("FILE: unknown
// key limits.foo", "FILE: bad value for threads: ..."); `config` is then left unchanged.
//
// The file, every key optional:
//
//   root = "site"                  # the site's root folder
//   listen = "127.0.0.1:8080"      # HOST:PORT, [IPV6]:PORT; port 0 picks a free one
//   threads = 0                    # 0 to 1024; 0: one per core
//   access_log = "access.log"      # one line per request; absent or "": none
//
//   [limits]
//   max_header_bytes = 16384       # 1024 to 1 MiB; beyond it 431
//   max_body_bytes = 16777216      # 0 to 1 TiB; beyond it 413
//   read_timeout_seconds = 30      # 1 to 86400
//   idle_timeout_seconds = 60      # 1 to 86400
//   max_sessions = 100000          # 1 to 100000000
//
//   [session]
//   timeout_minutes = 20           # 1 to 527040
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

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_CONFIG_H_
