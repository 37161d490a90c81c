// Conditional requests: answering 304 to a client that already has what a page would send.
#ifndef TESSALY_PAGES_CONDITIONAL_H_
#define TESSALY_PAGES_CONDITIONAL_H_

#include <string_view>

namespace tessaly::pages {

// True when an If-None-Match value (possibly several headers joined by ", ") is "*" or lists
// `tag`, compared weakly, so that "W/" before a tag does not matter.
bool ListsEntityTag(std::string_view if_none_match, std::string_view tag);

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_CONDITIONAL_H_
