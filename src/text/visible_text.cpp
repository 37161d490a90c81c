#include "text/visible_text.h"

#include <array>
#include <charconv>
#include <cstdint>

#include "base/ascii.h"

namespace tessaly::text {
namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Elements that start a new line where a browser shows them; every other tag joins its
// neighbours.
bool BreaksLine(std::string_view tag) {
  std::size_t end = 0;
  while (end < tag.size() && (IsLetter(tag[end]) || (tag[end] >= '0' && tag[end] <= '9'))) ++end;
  const std::string name = ascii::ToLower(tag.substr(0, end));
  static constexpr std::array<std::string_view, 14> kBlocks{
      "br",     "p",   "div",   "li", "ol", "ul", "blockquote",
      "center", "pre", "table", "tr", "td", "hr", "h1"};
  for (std::string_view block : kBlocks) {
    if (name == block) return true;
  }
  return false;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Decodes the reference at the start of `text` ("&..."); returns how many bytes it used, or 0
// when it is not one this function knows (the '&' is then text).
std::size_t DecodeReference(std::string_view text, std::string& out) {
  static constexpr std::array<std::pair<std::string_view, char>, 6> kNamed{{
      {"&nbsp;", ' '},
      {"&lt;", '<'},
      {"&gt;", '>'},
      {"&quot;", '"'},
      {"&amp;", '&'},
      {"&apos;", '\''},
  }};
  for (const auto& [name, c] : kNamed) {
    if (text.starts_with(name)) {
      out += c;
      return name.size();
    }
  }
  if (text.size() < 4 || text[1] != '#') return 0;
  const bool hex = text[2] == 'x' || text[2] == 'X';
  const std::size_t digits = hex ? 3 : 2;
  std::uint32_t code = 0;
  auto [end, ec] =
      std::from_chars(text.data() + digits, text.data() + text.size(), code, hex ? 16 : 10);
  const std::size_t used = static_cast<std::size_t>(end - text.data());
  if (ec != std::errc() || used == digits || used >= text.size() || text[used] != ';') return 0;
  AppendUtf8(out, code);
  return used + 1;
}

}  // namespace

std::string VisibleText(std::string_view html) {
  std::string out;
  out.reserve(html.size());
  std::size_t i = 0;
  while (i < html.size()) {
    const char c = html[i];
    if (c == '<' && html.substr(i).starts_with("<!--")) {
      const std::size_t end = html.find("-->", i + 4);
      i = end == std::string_view::npos ? html.size() : end + 3;
    } else if (c == '<' && i + 1 < html.size() &&
               (IsLetter(html[i + 1]) || html[i + 1] == '/' || html[i + 1] == '!')) {
      const std::size_t end = html.find('>', i);
      const std::string_view tag =
          html.substr(i + 1, (end == std::string_view::npos ? html.size() : end) - i - 1);
      if (BreaksLine(tag.starts_with('/') ? tag.substr(1) : tag)) out += ' ';
      i = end == std::string_view::npos ? html.size() : end + 1;
    } else if (c == '&') {
      const std::size_t used = DecodeReference(html.substr(i), out);
      if (used == 0) out += c;
      i += used == 0 ? 1 : used;
    } else if (c == '\'' && i + 1 < html.size() && html[i + 1] == '\'') {
      out += '\'';
      i += 2;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace tessaly::text
