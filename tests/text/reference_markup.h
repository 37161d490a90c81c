// A direct, unoptimised transcription of the markup conversion: the oracle of the markup fuzzer
// (held to the rules by the examples in markup_test.cpp) and the baseline of the benchmark. It
// rescans and rebuilds the whole text for every bracket, so it is quadratic on bracket-heavy
// contents.
#ifndef TESSALY_TESTS_TEXT_REFERENCE_MARKUP_H_
#define TESSALY_TESTS_TEXT_REFERENCE_MARKUP_H_

#include <string>
#include <string_view>

namespace tessaly::text::reference {

std::string MarkupToHtml(std::string_view text, std::string_view script_name);

}  // namespace tessaly::text::reference

#endif  // TESSALY_TESTS_TEXT_REFERENCE_MARKUP_H_
