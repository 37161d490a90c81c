#include "text/search_terms.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/ascii.h"

namespace tessaly::text {
namespace {

using Words = std::vector<std::string>;

// The terms of `text`, one list per position.
std::vector<Words> Positions(std::string_view text) {
  std::vector<Words> positions;
  ForEachTextTerm(text, [&](std::string_view term, std::size_t offset, bool same_position) {
    EXPECT_EQ(ascii::ToLower(text.substr(offset, term.size())), term);
    if (!same_position) positions.emplace_back();
    positions.back().emplace_back(term);
  });
  return positions;
}

// Whether the phrase of `word`'s terms occurs in `text`'s terms, one position apart.
bool PhraseOccurs(std::string_view text, std::string_view word) {
  const std::vector<Words> positions = Positions(text);
  const Words terms = WordTerms(word);
  for (std::size_t start = 0; start + terms.size() <= positions.size(); ++start) {
    bool all = true;
    for (std::size_t k = 0; k < terms.size() && all; ++k) {
      const Words& here = positions[start + k];
      all = std::find(here.begin(), here.end(), terms[k]) != here.end();
    }
    if (all) return true;
  }
  return false;
}

TEST(SearchTermsTest, TermsOfTextsAndWords) {
  EXPECT_EQ(Positions("Ab 日志\n\u3000x\x01y"),
            (std::vector<Words>{{"a", "ab"}, {"b"}, {"日", "日志"}, {"志"}, {"x"}, {"y"}}));
  EXPECT_EQ(Positions("\xFF\xE6"), (std::vector<Words>{{"\xFF", "\xFF\xE6"}, {"\xE6"}}));
  EXPECT_TRUE(Positions(" \t").empty());
  EXPECT_EQ(WordTerms("图"), Words{"图"});
  EXPECT_EQ(WordTerms("日志"), Words{"日志"});
  EXPECT_EQ(WordTerms("NEAR(a"), (Words{"ne", "ea", "ar", "r(", "(a"}));
  EXPECT_EQ(WordTerms("网站日志"), (Words{"网站", "站日", "日志"}));
  EXPECT_TRUE(WordTerms("").empty());
}

// The phrase of a word's terms occurs in a text's terms exactly when the word occurs in the
// text (ASCII letters folded), over random texts of a small alphabet so that words often
// nearly match.
TEST(SearchTermsTest, PhraseOccursExactlyWhereTheWordDoes) {
  const std::vector<std::string> alphabet = {"日",     "志", "维", "a", "B", "b",   " ",
                                             "\u3000", "\n", "é",  "É", "'", "\x01"};
  std::mt19937 random(24);
  const auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (std::size_t n = pick(12); n > 0; --n) text += alphabet[pick(alphabet.size())];
    std::string word;
    for (std::size_t n = 1 + pick(4); n > 0; --n) {
      const std::string& c = alphabet[pick(alphabet.size())];
      if (c == " " || c == "\u3000" || c == "\n" || c == "\x01") continue;  // never in a word
      word += c;
    }
    if (word.empty()) continue;
    const bool occurs = ascii::ToLower(text).find(ascii::ToLower(word)) != std::string::npos;
    EXPECT_EQ(PhraseOccurs(text, word), occurs) << "text '" << text << "' word '" << word << "'";
  }
}

TEST(SearchTermsTest, WordsOfAQuery) {
  EXPECT_EQ(SearchWords("  日志\u3000维护 it''s a'''b\t\r\nx "),
            (Words{"日志", "维护", "it's", "a'b", "x"}));
  EXPECT_EQ(SearchWords("1 2 3 4 5 6 7 8 9 10"), (Words{"1", "2", "3", "4", "5", "6", "7", "8"}));
  // The first 200 characters count, not bytes.
  std::string long_query;
  for (int i = 0; i < 199; ++i) long_query += "图";
  EXPECT_EQ(SearchWords(long_query + "a b"), Words{long_query + "a"});
  EXPECT_TRUE(SearchWords(" \u3000 ").empty());

  EXPECT_FALSE(HasControlCharacter("日志 a\tb\r\n\f\v"));
  for (std::string bad : {std::string("a\0b", 3), std::string("\x1b"), std::string("\x7f"),
                          std::string("\u0085"), std::string("\u009f")}) {
    EXPECT_TRUE(HasControlCharacter(bad)) << bad;
  }
  EXPECT_FALSE(HasControlCharacter("\u00a0é"));
}

}  // namespace
}  // namespace tessaly::text
