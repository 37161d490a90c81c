// The site as the connections see it: the configured pages and the files under the root folder,
// and the answer to each request, a function of the request alone (and of the event loop's
// kept files) that needs no socket. The connection reads a request, asks Find what it leads to
// (a page, which alone reads a body; a file; nothing), waits at the loop's gate when the answer
// runs pages, and sends what Handle answers.
#ifndef TESSALY_SERVER_SITE_H_
#define TESSALY_SERVER_SITE_H_

#include <boost/beast/http/fields.hpp>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/answer.h"
#include "server/config.h"
#include "server/health.h"
#include "server/host_objects.h"
#include "server/includes.h"
#include "server/loop_state.h"
#include "server/page_run.h"
#include "server/session_store.h"
#include "server/static_files.h"

namespace tessaly::server {

// One request as the connection has read and checked it.
struct SiteRequest {
  std::string_view path;                      // percent-decoded; starts with '/'
  const boost::beast::http::fields& headers;  // the request's head
  const RequestLine& line;                    // its script_name is the site's to set
  std::string_view body;                      // read for a page only
};

// What a request path leads to, known from the request's head before any body is read.
struct Target {
  const PageConfig* page = nullptr;  // a configured page
  std::optional<StaticFile> file;    // otherwise the file that a GET or HEAD may serve, if any
  bool health = false;               // the health check's path (health.h)

  // Whether the answer runs pages, which wait at the loop's gate first: a page, or a file whose
  // includes are expanded.
  bool RunsPages() const;
};

class Site {
 public:
  // `root` is canonical; `pages` is not empty; `sessions` outlives the site. The pages run
  // through the handler of the loop that answers (loop_state.h). A page with includes expands
  // them within `include_limits` (includes.h). The answers of pages that shared caches may
  // keep carry `public_cache_control` (page_run.h). `health`, when given, answers at its path
  // before any page or file, and outlives the site.
  Site(std::vector<PageConfig> pages, std::filesystem::path root, Sessions& sessions,
       IncludeLimits include_limits,
       std::string public_cache_control = std::string(kPublicCacheControl),
       const Health* health = nullptr);

  // The page whose path is `path` exactly, or null.
  const PageConfig* FindPage(std::string_view path) const;

  // The target of a request with `method` for the percent-decoded `path`: the health check, or
  // the page of that path, else (unless the method is POST, which only a page takes) the file it
  // resolves to (static_files.h).
  Target Find(std::string_view method, std::string_view path, LoopState& loop) const;

  // The answer to `request` for its `target`:
  // - a page: what the page writes (page_run.h); 400 for a form body with a bad escape;
  // - a POST to anything else: 405, with Allow: GET, HEAD; no file: 404;
  // - the health check: its answer (health.h);
  // - a file whose includes are expanded (shtml.h, within the include limits): 200,
  //   Cache-Control: private, no
  //   Last-Modified, and the session cookie that an include issued; 500 when it fails;
  // - another file: 200 with its Content-Type (by extension) and Last-Modified; 304 without a
  //   body when If-Modified-Since is exactly that date. A small file comes from the loop's
  //   texts (file_texts.h); a larger one is left open in `answer.file`.
  // The answer is cleared first; the connection adds what it adds (response_head.h).
  void Handle(const SiteRequest& request, const Target& target, LoopState& loop,
              Answer& answer) const;

 private:
  PageHost Host(LoopState& loop) const;
  void AnswerPage(const SiteRequest& request, const PageConfig& page, LoopState& loop,
                  Answer& answer) const;
  void AnswerIncludingPage(const SiteRequest& request, const StaticFile& file, LoopState& loop,
                           Answer& answer) const;
  void AnswerFile(const SiteRequest& request, const StaticFile& file, LoopState& loop,
                  Answer& answer) const;

  const std::vector<PageConfig> pages_;
  const std::filesystem::path root_;
  Sessions& sessions_;
  const IncludeLimits include_limits_;
  const std::string public_cache_control_;
  const Health* const health_;
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_SITE_H_
