// Searching the entries, the rules that every engine's index keeps alike.
//
// A search finds the entries (ID, TITLE, STIME; newest first) whose visible text (the title,
// a line break, the content, each as text::VisibleText gives it) contains every one of the
// words as a substring, ASCII letters in any case, every other character compared exactly.
// Words of kIndexedWordLength characters or more are looked up in the engine's index; shorter
// ones are checked against the candidates' text, or, when no word is that long, against the
// text of the entries with the newest kShortWordScanEntries ids only (a bounded scan). The
// words are bound values: nothing in them means anything to a query syntax.
//
// Each engine notes every entry that is added, changed or deleted, by this program or any
// other, as pending in the database itself; catching the index up before a search runs makes
// a change found by the very next search.
#ifndef TESSALY_DATA_SEARCH_H_
#define TESSALY_DATA_SEARCH_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly::data {

// Turns a stored HTML title or content into the text a reader sees (text::VisibleText).
using VisibleTextFn = std::string (*)(std::string_view html);

// Characters (not bytes) a word needs for the index (trigrams) to answer it.
inline constexpr std::size_t kIndexedWordLength = 3;

// A query of short words alone, which the index cannot answer, reads the text of the entries
// with the newest this many ids, so that it costs a bounded time however large the log.
inline constexpr std::int64_t kShortWordScanEntries = 100'000;

// Entries indexed per write transaction.
inline constexpr int kIndexBatch = 500;

// Whether the index answers `word` (UTF-8): it has kIndexedWordLength characters or more.
inline bool IsIndexedWord(std::string_view word) {
  std::size_t characters = 0;
  for (char c : word) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return characters >= kIndexedWordLength;
}

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SEARCH_H_
