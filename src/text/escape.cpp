#include "text/escape.h"

#include "text/replace.h"

namespace tessaly::text {

std::string EncodeText(std::string_view text) {
  // One pass is equivalent to the seven whole-text replacements in their defining order: each
  // byte is replaced on its own, and a CR LF pair survives the first six replacements intact.
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '\'':
        out += "''";
        break;
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
      case ' ':
        out += "&nbsp;";
        break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') {
          out += "<br>";
          ++i;
        } else {
          out += c;
        }
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string DecodeText(std::string_view text) {
  std::string t(text);
  t = ReplaceAll(t, "<br>", "\r\n");
  t = ReplaceAll(t, "&lt;", "<");
  t = ReplaceAll(t, "&gt;", ">");
  t = ReplaceAll(t, "&quot;", "\"");
  t = ReplaceAll(t, "&nbsp;", " ");
  t = ReplaceAll(t, "&amp;", "&");
  t = ReplaceAll(t, "''", "'");
  return t;
}

}  // namespace tessaly::text
