// Searching the entries, the rules that every engine's index keeps alike.
//
// A search finds the entries (ID, TITLE, STIME; newest first) whose visible text (the title,
// a line break, the content, each as text::VisibleText gives it) contains every one of the
// words (text::SearchWords) as a substring, ASCII letters in any case, every other character
// compared exactly. Each engine's index keeps the terms of that text (text/search_terms.h: one
// tokenizer for the index and the query, on every engine) under a key that follows the
// list's order (search_order.h), so that the count and a page of matches come from the index
// alone. The words are bound values: nothing in them means anything to a query syntax.
//
// Each engine notes every entry that is added, changed or deleted, by this program or any
// other, as pending in the database itself; catching the index up before a search runs makes
// a change found by the very next search. A database made before this index gets it when it
// is opened: the old index goes, and every entry is pending.
#ifndef TESSALY_DATA_SEARCH_H_
#define TESSALY_DATA_SEARCH_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly::data {

// Turns a stored HTML title or content into the text a reader sees (text::VisibleText).
using VisibleTextFn = std::string (*)(std::string_view html);

// Entries indexed per write transaction.
inline constexpr int kIndexBatch = 5000;

// What the index keeps of one entry: the title, a line break (which no word holds, so no word
// matches across it) and the content, each as a reader sees it.
inline std::string IndexedText(VisibleTextFn visible_text, std::string_view title,
                               std::string_view content) {
  return visible_text(title) + "\n" + visible_text(content);
}

// Which end of the matches a page is read from, and how: `offset` rows skipped from that
// end, then `limit` rows. A page nearer the oldest end is read from there, so each page costs
// about as much as the first.
struct PageWindow {
  bool from_oldest = false;
  std::int64_t offset = 0;
  std::int64_t limit = 0;
};

// The window of rows `first` (from 0, newest first) to `first + rows` of `total` matches.
inline PageWindow WindowOf(std::int64_t first, std::int64_t rows, std::int64_t total) {
  first = std::max<std::int64_t>(first, 0);
  rows = std::max<std::int64_t>(rows, 0);
  const std::int64_t after = total - first - rows;  // matches older than the page
  if (after >= first || total <= 0) return {false, first, rows};
  return {true, std::max<std::int64_t>(after, 0), rows + std::min<std::int64_t>(after, 0)};
}

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SEARCH_H_
