#include "pages/html.h"

#include "base/utf8.h"

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

std::string EscapeXml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t length = utf8::SequenceLength(text);
    if (length == 0) {
      out += "\uFFFD";
      text.remove_prefix(1);
      continue;
    }
    // U+FFFE and U+FFFF, the only characters past the surrogates that XML 1.0 leaves out.
    if (length == 3 && text.substr(0, 2) == "\xEF\xBF" &&
        static_cast<unsigned char>(text[2]) >= 0xBE) {
      out += "\uFFFD";
      text.remove_prefix(length);
      continue;
    }
    const char c = text.front();
    const auto code = static_cast<unsigned char>(c);
    if (length > 1) {
      out.append(text.substr(0, length));
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (c == '\'') {
      out += "&apos;";
    } else if (code >= 0x20 || c == '\t' || c == '\n' || c == '\r') {
      out += c;
    }
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace tessaly::pages
