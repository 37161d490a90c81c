#include "pages/conditional.h"

#include <cstdio>

namespace tessaly::pages {

bool ListsEntityTag(std::string_view if_none_match, std::string_view tag) {
  while (!if_none_match.empty()) {
    const std::size_t comma = if_none_match.find(',');
    std::string_view item = if_none_match.substr(0, comma);
    const std::size_t first = item.find_first_not_of(" \t");
    item = first == std::string_view::npos
               ? std::string_view()
               : item.substr(first, item.find_last_not_of(" \t") - first + 1);
    if (item.starts_with("W/")) item.remove_prefix(2);
    if (item == "*" || item == tag) return true;
    if (comma == std::string_view::npos) break;
    if_none_match.remove_prefix(comma + 1);
  }
  return false;
}

std::uint64_t Fingerprint(std::string_view bytes, std::uint64_t from) {
  std::uint64_t hash = from;
  for (char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string EntityTag(std::uint64_t fingerprint) {
  char text[24];
  std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(fingerprint));
  return text;
}

bool AnswerWithTag(const host::Request& request, host::Response& response, std::string_view tag) {
  response.AddHeader("ETag", tag);
  // Only a GET or HEAD is answered from what the client has; any other method acts.
  const std::string method = request.ServerVariable("REQUEST_METHOD");
  if (method != "GET" && method != "HEAD") return false;
  if (!ListsEntityTag(request.ServerVariable("HTTP_IF_NONE_MATCH"), tag)) return false;
  response.SetStatus(304);
  return true;
}

}  // namespace tessaly::pages
