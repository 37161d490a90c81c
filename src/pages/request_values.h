// Reading the values that pages take from request items. An item goes into a query only after
// it has been read as what it must be; anything else names nothing.
#ifndef TESSALY_PAGES_REQUEST_VALUES_H_
#define TESSALY_PAGES_REQUEST_VALUES_H_

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tessaly::pages {

// `text` without leading and trailing space characters (U+0020 only: tabs and line breaks
// stay), as the pages' emptiness checks of typed values require.
std::string_view TrimSpaces(std::string_view text);

// A whole decimal number that fits 64 bits, optionally with a leading '-', and nothing else:
// no blanks, no '+', no fraction. Empty optional otherwise.
std::optional<std::int64_t> ParseWholeNumber(std::string_view text);

// Whole numbers separated by commas, with blanks (spaces) allowed around each, as a browser
// sends several checked boxes of one name ("3, 7, 12"). Empty optional when any element is not
// a whole number, and for a text without any number.
std::optional<std::vector<std::int64_t>> ParseIdList(std::string_view text);

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_REQUEST_VALUES_H_
