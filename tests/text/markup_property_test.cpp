// Properties of the converters checked on many generated inputs, and the fast converter
// checked against the direct transcription of the algorithm.
#include <gtest/gtest.h>

#include <random>

#include "markup_generator.h"
#include "reference_markup.h"
#include "text/escape.h"
#include "text/markup.h"

namespace tessaly::text {
namespace {

constexpr std::string_view kScript = "/log/board";

TEST(MarkupToHtmlDifferential, MatchesReferenceOnGeneratedInputs) {
  const auto expect_same = [](const std::string& content) {
    ASSERT_EQ(MarkupToHtml(content, kScript), reference::MarkupToHtml(content, kScript))
        << "content: " << content;
  };
  // Typed markup as stored, the same unencoded (raw spaces, quotes, typed placeholders), and
  // arbitrary bytes.
  std::mt19937 rng(7);
  for (int i = 0; i < 9000; ++i) {
    ASSERT_NO_FATAL_FAILURE(expect_same(i % 3 == 0
                                            ? EncodeText(testing::RandomMarkup(rng, 1 + i % 30))
                                        : i % 3 == 1 ? testing::RandomMarkup(rng, 1 + i % 20)
                                                     : testing::RandomBytes(rng, i % 200)));
  }
  // Tag texts too long to be indexed take the converter's direct search.
  const std::string name(1100, 'n');
  const std::string pieces[] = {"[" + name + "]",
                                "[/" + name + "]",
                                "[/N" + name + "]",
                                "[img&nbsp;http://x/" + std::string(1100, 'u') + "]",
                                "[b]x[/b]",
                                "]",
                                "[",
                                "[" + name + "]i[/" + name + "]"};
  for (int i = 0; i < 200; ++i) {
    std::string content;
    for (int k = 0; k < 8; ++k) content += pieces[rng() % std::size(pieces)];
    ASSERT_NO_FATAL_FAILURE(expect_same(content));
  }
  expect_same(testing::BenchmarkContent(20'000, 2'000, 3));
}

TEST(MarkupToHtmlProperty, TerminatesOnLargeArbitraryInput) {
  std::mt19937 rng(17);
  for (int i = 0; i < 20; ++i) {
    const std::string content = testing::RandomBytes(rng, 20'000);
    const std::string html = MarkupToHtml(content, kScript);
    EXPECT_LE(html.size(), 8 * content.size() + 64);
  }
}

TEST(MarkupRoundTrip, StoringTheEditedMarkupReproducesNestedContents) {
  std::mt19937 rng(19);
  for (int i = 0; i < 3000; ++i) {
    const std::string typed = testing::RandomNestedMarkup(rng, 1 + i % 4);
    const std::string stored = MarkupToHtml(EncodeText(typed), kScript);
    const std::string edited = HtmlToMarkup(stored);
    ASSERT_EQ(MarkupToHtml(EncodeText(edited), kScript), stored)
        << "typed: " << typed << "\nedited: " << edited;
  }
}

}  // namespace
}  // namespace tessaly::text
