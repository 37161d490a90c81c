// Random inputs for the text tests and the markup benchmark. Everything is driven by the
// caller's generator, so a fixed seed reproduces a failure.
#ifndef TESSALY_TESTS_TEXT_MARKUP_GENERATOR_H_
#define TESSALY_TESTS_TEXT_MARKUP_GENERATOR_H_

#include <cstddef>
#include <random>
#include <string>

namespace tessaly::text::testing {

// Plain typed text: letters, CJK, spaces, quotes, apostrophes, ampersands, angle brackets,
// entity texts, "<br>", CR LF and lone CR or LF, backslashes and, when `brackets`, square
// brackets and bracket escapes.
std::string RandomText(std::mt19937& rng, size_t max_pieces, bool brackets);

// Typed markup as an author might write it, deliberately messy: known and unknown tags in
// mixed capitals, with and without parameters, nested pairs, unclosed openings, stray closing
// tags and brackets, escapes, img tags, and whole segments repeated verbatim.
std::string RandomMarkup(std::mt19937& rng, size_t pieces);

// Typed markup whose tags (every name but img) are properly nested and closed, with random
// capitals and parameters, around texts that hold no unescaped bracket.
std::string RandomNestedMarkup(std::mt19937& rng, int depth);

// Arbitrary bytes, biased towards the characters that the converters look at.
std::string RandomBytes(std::mt19937& rng, size_t size);

// A content of about `bytes` bytes holding about `brackets` brackets: a mix of tag pairs
// (nested and flat), img tags, unknown tags, unclosed openings and bracket pairs that form
// no tag, already escaped as the add form would store it.
std::string BenchmarkContent(size_t bytes, size_t brackets, unsigned seed);

}  // namespace tessaly::text::testing

#endif  // TESSALY_TESTS_TEXT_MARKUP_GENERATOR_H_
