// Escaping for text that the pages write from settings rather than from stored entries.
#ifndef TESSALY_PAGES_HTML_H_
#define TESSALY_PAGES_HTML_H_

#include <string>
#include <string_view>

namespace tessaly::pages {

// Escapes &, <, >, " and ' so the text is safe in element content and in quoted attributes.
std::string EscapeHtml(std::string_view text);

// Percent-encodes every byte of a query text that could end a URL, a single-quoted script
// string or an unquoted attribute: quotes, angle brackets, backquote, backslash, whitespace and
// control characters; and '#' and ';', so that no character reference (such as "&#39;" or
// "&apos;", which a browser decodes before it runs an attribute's script) can form in it.
// Ordinary query text passes unchanged.
std::string EncodeForLink(std::string_view query);

// Escapes text for XML element content and attributes: &, <, >, " and '; characters that XML
// 1.0 does not allow are dropped (control characters other than tab and line breaks) or become
// U+FFFD (U+FFFE and U+FFFF, and bytes that are not UTF-8), so the document always parses.
std::string EscapeXml(std::string_view text);

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_HTML_H_
