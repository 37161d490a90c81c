// The search tokenizer: how a query becomes words, and how a text and a word become the terms
// that the search index keeps and looks up. One tokenizer serves the index and the query, on
// every database engine, so that both sides always agree.
//
// A word matches a text when it occurs in it as a substring, ASCII letters in any case and
// every other character compared exactly. The terms make that an index lookup for words of any
// length: a text gives, at each character, the character itself (a unigram) and, when the next
// character is also one a word can hold, the two of them (a bigram), at the same position. A
// word of one character is its unigram; a longer word is the phrase of its overlapping bigrams,
// one position apart. A bigram at position p is characters p and p+1 of the text, so the
// phrase occurs exactly where the word does: the lookup needs no check against the text.
//
// Characters are UTF-8 sequences; a byte that starts none counts as a character of its own.
// ASCII letters are folded to lower case on both sides; nothing else is folded.
#ifndef TESSALY_TEXT_SEARCH_TERMS_H_
#define TESSALY_TEXT_SEARCH_TERMS_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::text {

// What a query may cost: the characters read, and the words that count.
inline constexpr std::size_t kMaxQueryCharacters = 200;
inline constexpr std::size_t kMaxQueryWords = 8;

// Whether `query` holds a control character other than the blanks that separate words (tab,
// line feed, vertical tab, form feed, carriage return): C0 controls, DEL and U+0080..U+009F.
// Such a query is refused, never searched.
bool HasControlCharacter(std::string_view query);

// The words of `query` (well-formed UTF-8 without control characters): its first
// kMaxQueryCharacters characters split at ASCII blanks and the ideographic space U+3000 that
// Chinese input methods type, at most kMaxQueryWords of them, the doubled apostrophe of the
// stored form read as one. Each word as typed (not folded); none empty.
std::vector<std::string> SearchWords(std::string_view query);

// Calls `term` for each term of `text` in order, with its byte offset in `text`: a unigram with
// `same_position` false (the next position), then the bigram that starts there, if any, with
// `same_position` true. Characters that no word holds (ASCII blanks, control characters,
// U+3000) give no term and join no bigram. `term` is valid during the call only.
void ForEachTextTerm(
    std::string_view text,
    const std::function<void(std::string_view term, std::size_t offset, bool same_position)>& term);

// The terms that `word` (one of SearchWords) is looked up by, one per position: its unigram
// when it has one character, else its overlapping bigrams. Empty for an empty word.
std::vector<std::string> WordTerms(std::string_view word);

}  // namespace tessaly::text

#endif  // TESSALY_TEXT_SEARCH_TERMS_H_
