// Escaping for text that the pages write from settings rather than from stored entries.
#ifndef TESSALY_PAGES_HTML_H_
#define TESSALY_PAGES_HTML_H_

#include <string>
#include <string_view>

namespace tessaly::pages {

// Escapes &, <, >, " and ' so the text is safe in element content and in quoted attributes.
std::string EscapeHtml(std::string_view text);

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_HTML_H_
