#include "markup_generator.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "text/escape.h"

namespace tessaly::text::testing {
namespace {

size_t Pick(std::mt19937& rng, size_t n) {
  return std::uniform_int_distribution<size_t>(0, n - 1)(rng);
}

bool Chance(std::mt19937& rng, double p) { return std::bernoulli_distribution(p)(rng); }

template <size_t N>
std::string_view PickFrom(std::mt19937& rng, const std::array<std::string_view, N>& items) {
  return items[Pick(rng, N)];
}

constexpr std::array<std::string_view, 14> kPairNames = {
    "a", "b", "blockquote", "c", "center", "i", "l", "li", "ol", "s", "r", "u", "ul", "pre"};
constexpr std::array<std::string_view, 5> kUnknownNames = {"x", "foo", "code", "h1", "table"};
constexpr std::array<std::string_view, 8> kParams = {
    "red",     "#FF0000", "dark blue", "\"http://example.com/a b\"", "http://x.org/?q=1&r='2'",
    "pic.gif", "a  b",    "&lt;&amp;"};

std::string RandomCase(std::mt19937& rng, std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (Chance(rng, 0.3) && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string OpeningTag(std::mt19937& rng, std::string_view name) {
  std::string tag = "[" + RandomCase(rng, name);
  if (Chance(rng, 0.4)) tag += " " + std::string(PickFrom(rng, kParams));
  return tag + "]";
}

std::string ClosingTag(std::mt19937& rng, std::string_view name) {
  return "[/" + RandomCase(rng, name) + "]";
}

std::string TextPiece(std::mt19937& rng, bool brackets) {
  static constexpr std::array<std::string_view, 24> kPieces = {
      "word",   "Two words", " ",  "  ",   "日志", "网站纪事", "\r\n", "\n",
      "\r",     "'",         "''", "\"",   "&",    "&amp;",    "&lt;", "&nbsp;",
      "&quot;", "<",         ">",  "<br>", "\\",   "\t",       "x=1;", "é"};
  static constexpr std::array<std::string_view, 6> kBracketPieces = {"\\[\\", "\\]\\", "[",
                                                                     "]",     "[]",    "a[1]"};
  if (brackets && Chance(rng, 0.2)) return std::string(PickFrom(rng, kBracketPieces));
  if (!brackets && Chance(rng, 0.1)) return std::string(Chance(rng, 0.5) ? "\\[\\" : "\\]\\");
  return std::string(PickFrom(rng, kPieces));
}

}  // namespace

std::string RandomText(std::mt19937& rng, size_t max_pieces, bool brackets) {
  std::string out;
  const size_t pieces = Pick(rng, max_pieces + 1);
  for (size_t i = 0; i < pieces; ++i) out += TextPiece(rng, brackets);
  return out;
}

std::string RandomMarkup(std::mt19937& rng, size_t pieces) {
  std::string out;
  std::vector<std::string> segments;
  for (size_t i = 0; i < pieces; ++i) {
    std::string piece;
    switch (Pick(rng, 10)) {
      case 0:
      case 1: {  // a pair, sometimes around another pair
        const std::string_view name =
            Chance(rng, 0.8) ? PickFrom(rng, kPairNames) : PickFrom(rng, kUnknownNames);
        std::string inner = RandomText(rng, 3, false);
        if (Chance(rng, 0.3)) {
          const std::string_view inner_name = PickFrom(rng, kPairNames);
          inner +=
              OpeningTag(rng, inner_name) + RandomText(rng, 2, false) + ClosingTag(rng, inner_name);
        }
        piece = OpeningTag(rng, name) + inner + ClosingTag(rng, name);
        break;
      }
      case 2:
        piece = OpeningTag(rng, Chance(rng, 0.8) ? PickFrom(rng, kPairNames) : "img");
        break;
      case 3:
        piece = ClosingTag(rng, PickFrom(rng, kPairNames));
        break;
      case 4:
        piece = Chance(rng, 0.5) ? "[img " + std::string(PickFrom(rng, kParams)) + "]" : "[IMG]";
        break;
      case 5:
        if (!segments.empty()) {
          piece = segments[Pick(rng, segments.size())];
          break;
        }
        [[fallthrough]];
      default:
        piece = RandomText(rng, 4, true);
    }
    if (piece.find('[') != std::string::npos) segments.push_back(piece);
    out += piece;
  }
  return out;
}

std::string RandomNestedMarkup(std::mt19937& rng, int depth) {
  std::string out = RandomText(rng, 3, false);
  const size_t children = depth > 0 ? Pick(rng, 4) : 0;
  for (size_t i = 0; i < children; ++i) {
    const std::string_view name =
        Chance(rng, 0.9) ? PickFrom(rng, kPairNames) : PickFrom(rng, kUnknownNames);
    out += OpeningTag(rng, name) + RandomNestedMarkup(rng, depth - 1) + ClosingTag(rng, name);
    out += RandomText(rng, 2, false);
  }
  return out;
}

std::string RandomBytes(std::mt19937& rng, size_t size) {
  static constexpr std::string_view kInteresting = "[]\\/<>&; bBiIgmG";
  std::string out(size, '\0');
  for (char& c : out) {
    c = Chance(rng, 0.6) ? kInteresting[Pick(rng, kInteresting.size())]
                         : static_cast<char>(Pick(rng, 256));
  }
  return out;
}

std::string BenchmarkContent(size_t bytes, size_t brackets, unsigned seed) {
  static constexpr std::array<std::string_view, 6> kOthers = {
      "a[12]", "[]", "\\[\\escaped\\]\\", "[b]Note:[/b]", "[u]unclosed", "[x]unknown[/x]"};
  std::mt19937 rng(seed);
  std::string typed;
  for (size_t count = 0; count < brackets;) {
    const std::string_view name = PickFrom(rng, kPairNames);
    const std::string word = "item" + std::to_string(Pick(rng, 1000));
    std::string piece;
    switch (Pick(rng, 6)) {
      case 0:
      case 1:
        piece = OpeningTag(rng, name) + word + ClosingTag(rng, name);
        break;
      case 2:
        piece = OpeningTag(rng, name) + "[i]" + word + "[/I]" + ClosingTag(rng, name);
        break;
      case 3:
        piece = "[img picture" + std::to_string(Pick(rng, 50)) + ".gif]";
        break;
      default:
        piece = PickFrom(rng, kOthers);
    }
    for (char c : piece) count += c == '[' || c == ']';
    typed += piece;
    // Plain text between the tags, sized to reach the requested length.
    const size_t pieces_left = (brackets - std::min(brackets, count)) / 4 + 1;
    const size_t filler = bytes > typed.size() ? (bytes - typed.size()) / pieces_left : 0;
    for (size_t i = 0; i < filler; ++i) typed += "lorem,ipsum\r\n"[i % 13];
  }
  return EncodeText(typed);
}

}  // namespace tessaly::text::testing
