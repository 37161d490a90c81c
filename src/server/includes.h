// Server-side includes: a static page whose name ends in ".shtml" is served with each
// <!--#include virtual="PATH?QUERY" --> replaced by what the server answers for that target
// (a configured page or another static file), as other web servers do for the directive.
//
// The expansion is a pure function of the page's text and a fetch callback, so the rules
// (which targets may be fetched, how deep includes nest, that they never loop, what a
// failure writes) are decided here and the server only fetches.
#ifndef TESSALY_SERVER_INCLUDES_H_
#define TESSALY_SERVER_INCLUDES_H_

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::server {

// Includes nest at most this deep: a page, the files it includes, and theirs.
inline constexpr int kMaxIncludeDepth = 4;

// What one page's includes may bring in, at every depth together: the includes fetched, and
// the bytes of the texts fetched, each counted whole before it is expanded in turn. So the
// page's answer holds at most its own text and `max_bytes` more, and building it holds little
// more than that.
struct IncludeLimits {
  std::size_t max_includes = 0;
  std::size_t max_bytes = 0;
};

// A target to fetch: a path from the site's root ("/a/b.shtml", percent-decoded as a request
// path is) and the raw query ("" when none).
struct IncludeTarget {
  std::string path;
  std::string query;
};

// Where `target` (as written in a directive) leads from the page at `page_path`: absolute
// targets from the site's root, relative ones from the page's folder. Nothing for a target
// that names a scheme or a host, holds a bad escape, a backslash or a NUL, or climbs above
// the root.
std::optional<IncludeTarget> ResolveInclude(std::string_view page_path, std::string_view target);

// What fetching a target gives: the text to put in place of the directive, or why it failed
// (a short reason such as "not found", written into an HTML comment).
struct Fetched {
  bool ok = false;
  std::string text;  // the answer when ok, the reason otherwise
  // When the text is a page with includes of its own (.shtml): the path it is known by, from
  // which its relative targets lead and which no include below it may name again.
  std::optional<std::string> expand_as = std::nullopt;
};

using IncludeFetch = std::function<Fetched(const IncludeTarget& target)>;

// `text` (the page at `page_path`) with every include directive replaced: by the fetched text,
// expanded in turn when the fetch says so, or by a comment "<!-- include failed: REASON -->".
// An include of the page itself or of any page that includes it is refused as a loop; beyond
// kMaxIncludeDepth every include fails. Once `limits.max_includes` have been fetched, or a
// fetched text would pass `limits.max_bytes`, that include and every later one fail (the text
// is dropped; later ones are not fetched). Text outside the directives passes unchanged, as
// does a directive that is not well formed.
std::string ExpandIncludes(std::string_view text, std::string_view page_path,
                           const IncludeLimits& limits, const IncludeFetch& fetch);

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_INCLUDES_H_
