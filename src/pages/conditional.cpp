#include "pages/conditional.h"

#include <bit>
#include <cstdio>
#include <cstring>

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

namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;

// splitmix64's finalizer: every bit of `x` reaches every bit of the result.
std::uint64_t Mix(std::uint64_t x) {
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// One word into a lane: the multiply by the word does not wait for the lane, so two lanes keep
// the multiplier busy.
std::uint64_t Round(std::uint64_t lane, std::uint64_t word) {
  return std::rotl(lane + word * kPrime2, 31) * kPrime1;
}

std::uint64_t Word(const char* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

}  // namespace

// Sixteen bytes a step in two lanes: a page is fingerprinted each time it is made, so this is
// on the path of every uncached page. Words are read in the machine's byte order; the nodes of
// one site are of one kind (and a tag that differs between nodes costs a 200, never a wrong
// page).
std::uint64_t Fingerprint(std::string_view bytes, std::uint64_t from) {
  std::uint64_t first = Mix(from ^ (bytes.size() * kPrime1));
  std::uint64_t second = Mix(first + kPrime2);
  const char* at = bytes.data();
  const char* const end = at + bytes.size();
  for (; end - at >= 16; at += 16) {
    first = Round(first, Word(at));
    second = Round(second, Word(at + 8));
  }
  if (end - at >= 8) {
    first = Round(first, Word(at));
    at += 8;
  }
  std::uint64_t tail = 0;
  if (at < end) std::memcpy(&tail, at, static_cast<std::size_t>(end - at));
  return Mix(Round(first ^ std::rotl(second, 17), tail ^ static_cast<std::uint64_t>(end - at)));
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
