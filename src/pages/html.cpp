#include "pages/html.h"

namespace tessaly::pages {

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string EncodeForLink(std::string_view query) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(query.size());
  for (char ch : query) {
    const auto c = static_cast<unsigned char>(ch);
    const bool unsafe = c <= 0x20 || c == 0x7F || c == '\'' || c == '"' || c == '<' || c == '>' ||
                        c == '`' || c == '\\' || c == '#' || c == ';';
    if (unsafe) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace tessaly::pages
