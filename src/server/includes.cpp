#include "server/includes.h"

#include <algorithm>
#include <vector>

#include "server/url_encoding.h"

namespace tessaly::server {
namespace {

constexpr std::string_view kOpen = "<!--#include";
constexpr std::string_view kClose = "-->";

// The reason goes inside an HTML comment: keep it free of "--" and ">".
std::string FailureComment(std::string_view reason) {
  std::string safe;
  for (char c : reason) safe += (c == '-' || c == '>' || c == '<') ? ' ' : c;
  return "<!-- include failed: " + safe + " -->";
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of virtual="..." in the directive's inside; nothing when it has none.
std::optional<std::string_view> VirtualValue(std::string_view inside) {
  std::size_t i = 0;
  while (i < inside.size() && IsSpace(inside[i])) ++i;
  constexpr std::string_view kName = "virtual=\"";
  if (inside.substr(i, kName.size()) != kName) return std::nullopt;
  i += kName.size();
  const std::size_t end = inside.find('"', i);
  if (end == std::string_view::npos) return std::nullopt;
  if (!std::all_of(inside.begin() + static_cast<std::ptrdiff_t>(end) + 1, inside.end(), IsSpace)) {
    return std::nullopt;
  }
  return inside.substr(i, end - i);
}

}  // namespace

std::optional<IncludeTarget> ResolveInclude(std::string_view page_path, std::string_view target) {
  const std::size_t question = target.find('?');
  std::string_view raw_path = target.substr(0, question);
  IncludeTarget resolved;
  if (question != std::string_view::npos) resolved.query = std::string(target.substr(question + 1));
  // "//host/x" and "scheme:..." name another server.
  if (raw_path.empty() || raw_path.starts_with("//") || raw_path.find(':') < raw_path.find('/')) {
    return std::nullopt;
  }
  if (!HasValidEscapes(raw_path) || !HasValidEscapes(resolved.query)) return std::nullopt;
  const std::string decoded = *PercentDecode(raw_path, false);
  if (decoded.find_first_of(std::string_view("\\\0", 2)) != std::string::npos) {
    return std::nullopt;
  }
  std::string joined = decoded;
  if (decoded.front() != '/') {
    joined = std::string(page_path.substr(0, page_path.rfind('/') + 1)) + decoded;
  }
  // Segments are resolved here, so that nothing after this can climb above the root.
  std::vector<std::string_view> segments;
  std::string_view rest = joined;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") {
      if (segments.empty()) return std::nullopt;
      segments.pop_back();
      continue;
    }
    segments.push_back(segment);
  }
  for (std::string_view segment : segments) resolved.path.append("/").append(segment);
  if (resolved.path.empty() || joined.ends_with('/')) resolved.path += '/';
  return resolved;
}

namespace {

// One page's expansion: what its includes have used of the limits so far, and the pages that
// include the one being expanded.
class Expansion {
 public:
  Expansion(const IncludeLimits& limits, const IncludeFetch& fetch)
      : includes_left_(limits.max_includes), bytes_left_(limits.max_bytes), fetch_(fetch) {}

  std::string Expand(std::string_view text, std::string_view page_path, int depth) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (std::size_t open; (open = text.find(kOpen, pos)) != std::string_view::npos;) {
      const std::size_t close = text.find(kClose, open + kOpen.size());
      if (close == std::string_view::npos) break;
      const auto value =
          VirtualValue(text.substr(open + kOpen.size(), close - open - kOpen.size()));
      out.append(text, pos, open - pos);
      pos = close + kClose.size();
      if (!value) {
        out.append(text, open, pos - open);  // not a directive of ours: leave it
        continue;
      }
      out += Include(*value, page_path, depth);
    }
    out.append(text, pos);
    return out;
  }

 private:
  // What the directive naming `value` in the page at `page_path` becomes.
  std::string Include(std::string_view value, std::string_view page_path, int depth) {
    const auto target = ResolveInclude(page_path, value);
    if (!target) return FailureComment("refused target");
    if (depth > kMaxIncludeDepth) return FailureComment("nested too deep");
    if (IsLoop(target->path, page_path)) return FailureComment("includes itself");
    if (spent_.empty() && includes_left_ == 0) spent_ = "too many includes";
    if (!spent_.empty()) return FailureComment(spent_);
    --includes_left_;
    Fetched fetched = fetch_(*target);
    if (!fetched.ok) return FailureComment(fetched.text);
    // A page reached by another name (a folder's index) is known by its own.
    if (fetched.expand_as && IsLoop(*fetched.expand_as, page_path)) {
      return FailureComment("includes itself");
    }
    if (fetched.text.size() > bytes_left_) {
      spent_ = "too large";
      return FailureComment(spent_);
    }
    bytes_left_ -= fetched.text.size();
    if (!fetched.expand_as) return std::move(fetched.text);
    ancestors_.emplace_back(page_path);
    std::string expanded = Expand(fetched.text, *fetched.expand_as, depth + 1);
    ancestors_.pop_back();
    return expanded;
  }

  bool IsLoop(std::string_view path, std::string_view page_path) const {
    return path == page_path ||
           std::find(ancestors_.begin(), ancestors_.end(), path) != ancestors_.end();
  }

  std::size_t includes_left_;
  std::size_t bytes_left_;
  std::string spent_;  // why every include fails from now on; "" while the limits hold
  std::vector<std::string> ancestors_;  // outermost first
  const IncludeFetch& fetch_;
};

}  // namespace

std::string ExpandIncludes(std::string_view text, std::string_view page_path,
                           const IncludeLimits& limits, const IncludeFetch& fetch) {
  return Expansion(limits, fetch).Expand(text, page_path, 1);
}

}  // namespace tessaly::server
