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

std::string ExpandIncludes(std::string_view text, std::string_view page_path, int depth,
                           const std::vector<std::string>& ancestors, const IncludeFetch& fetch) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (std::size_t open; (open = text.find(kOpen, pos)) != std::string_view::npos;) {
    const std::size_t close = text.find(kClose, open + kOpen.size());
    if (close == std::string_view::npos) break;
    const auto value = VirtualValue(text.substr(open + kOpen.size(), close - open - kOpen.size()));
    out.append(text, pos, open - pos);
    pos = close + kClose.size();
    if (!value) {
      out.append(text, open, pos - open);  // not a directive of ours: leave it
      continue;
    }
    const auto target = ResolveInclude(page_path, *value);
    if (!target) {
      out += FailureComment("refused target");
    } else if (depth > kMaxIncludeDepth) {
      out += FailureComment("nested too deep");
    } else if (target->path == page_path ||
               std::find(ancestors.begin(), ancestors.end(), target->path) != ancestors.end()) {
      out += FailureComment("includes itself");
    } else {
      const Fetched fetched = fetch(*target, depth);
      out += fetched.ok ? fetched.text : FailureComment(fetched.text);
    }
  }
  out.append(text, pos);
  return out;
}

}  // namespace tessaly::server
