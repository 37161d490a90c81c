// One page request run through the PageHandler: the host objects are built over the parsed
// request, the handler writes the page through them, and what it wrote becomes the answer.
#ifndef TESSALY_SERVER_PAGE_RUN_H_
#define TESSALY_SERVER_PAGE_RUN_H_

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/beast/http/fields.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "host/host.h"
#include "server/config.h"
#include "server/host_objects.h"
#include "server/response_head.h"
#include "server/session_store.h"

namespace tessaly::server {

// Runs one page request: what it writes through the context is the answer. It may throw; the
// server then answers 500 with what was written so far and a short report, and logs the detail.
using PageHandler = std::function<void(host::ScriptingContext&, const PageConfig&)>;

// What a page request may wait for before it runs, without holding up its event loop: the
// gate of a loop lets a request in once what it needs has arrived (a fresh stamp of a database
// server, say). The gate calls `run`, the request's page run, exactly once and on the loop's
// thread, possibly before it returns. An empty gate lets every request in at once.
using PageGate = std::function<void(std::function<void()> run)>;

// What the page requests of one event loop go through: the gate they wait at, and the handler
// that runs them, which may hold what that loop keeps for its pages (and then needs no lock).
struct LoopPages {
  PageGate gate;
  PageHandler handler;
  // Whether a page request reads so much (a search of the index, say) that it runs on the
  // slow-page threads (slow_pages.h) rather than on the loop, by its query string. Empty: none.
  std::function<bool(std::string_view query)> slow;
  // Counts the page runs of this loop that wrote a page kept from an earlier request, so that
  // a request can tell whether its own did (the access log's cache hit); null: none are kept.
  const std::atomic<std::uint64_t>* cache_hits = nullptr;
};

// Makes the LoopPages of one event loop; called once for each loop, before serving starts.
using LoopPagesMaker = std::function<LoopPages(boost::asio::io_context& loop)>;

// What a page run needs besides its request: the server's sessions and canonical root folder,
// the handler and session ids of the event loop it runs on, and the Cache-Control of the
// answers that shared caches may keep ([cache] public_cache_control).
struct PageHost {
  const PageHandler& handler;
  Sessions& sessions;
  std::string_view root;
  SessionIds& session_ids;
  std::string_view public_cache_control = kPublicCacheControl;
};

// Runs `host.handler` for a request to `page` (`line.script_name` is the page's path) with the
// request's `headers` and `request_body`. Starts `head` with the status (the page's own, or 500
// when the handler threw) and adds the page's headers: Content-Type, those the page added,
// Cache-Control and the session cookie if the session needs one; the caller ends it.
// Cache-Control: a page that gives its answer an ETag says that the answer is a function of its
// URL (with the Host) and of the database's state, so shared caches may keep it as
// `host.public_cache_control` says, unless this run made it depend on more: a method other than
// GET or HEAD, the visitor's session read or changed, an item taken from the cookies or a cookie
// set. Such a tagged answer is "private, no-cache" (the visitor's own, asked again each time);
// an untagged one, or a failure, is "private". The page
// goes to `body`, which is cleared first. Returns the Content-Length to state: the body's size,
// or nothing for a 204 or 304, which have no body.
std::optional<std::uint64_t> RunPage(const PageHost& host, const PageConfig& page,
                                     const RequestLine& line,
                                     const boost::beast::http::fields& headers,
                                     std::string_view request_body, ResponseHead& head,
                                     std::string& body);

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_PAGE_RUN_H_
