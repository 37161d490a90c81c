// Conditional requests: answering 304 to a client that already has what a page would send.
//
// One rule for the entity tags of the pages: a tag is the fingerprint of what the answer is
// made of (the page's key and its bytes), so it changes with every change of the page, is the
// same on every node and across restarts for the same page, and needs no clock.
#ifndef TESSALY_PAGES_CONDITIONAL_H_
#define TESSALY_PAGES_CONDITIONAL_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "host/host.h"

namespace tessaly::pages {

// True when an If-None-Match value (possibly several headers joined by ", ") is "*" or lists
// `tag`, compared weakly, so that "W/" before a tag does not matter.
bool ListsEntityTag(std::string_view if_none_match, std::string_view tag);

// A 64-bit fingerprint of `bytes` after `from` (the fingerprint of what came before them, or
// kEmptyFingerprint): the same on every node and every run; any change of the bytes or of
// what came before changes it but by chance (one in 2^64). Not a defence against someone who
// wants two texts to meet: a tag only spares a client the bytes it already has.
inline constexpr std::uint64_t kEmptyFingerprint = 14695981039346656037ull;
std::uint64_t Fingerprint(std::string_view bytes, std::uint64_t from = kEmptyFingerprint);

// The entity tag of an answer whose parts have `fingerprint`: a strong tag, 16 hex digits in
// quotes.
std::string EntityTag(std::uint64_t fingerprint);

// Gives the answer the ETag `tag`; when the request is a GET or HEAD whose If-None-Match lists
// it, also makes the answer a 304 and returns true: the page then writes nothing more.
bool AnswerWithTag(const host::Request& request, host::Response& response, std::string_view tag);

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_CONDITIONAL_H_
