#include "markup_generator.h"

#include <algorithm>
#include <array>
#include <random>
#include <string_view>

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

}  // namespace

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
