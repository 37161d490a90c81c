// The order key of an entry in the search index: index row ids that follow the order in which
// searches list entries (newest first: STIME, then ID, both descending), so that a page of
// matches is read from the index in order, however many entries match.
#ifndef TESSALY_DATA_SEARCH_ORDER_H_
#define TESSALY_DATA_SEARCH_ORDER_H_

#include <cstdint>
#include <string_view>

namespace tessaly::data {

// Ids below this bound have a key that keeps the list's order exactly (to the second).
inline constexpr std::int64_t kOrderedIdBound = std::int64_t{1} << 30;

// The key of the entry `id` stamped `stime` ("YYYY-MM-DD HH:MM:SS.fff"; a shorter or partial
// date counts from the start of the period it names, anything else as the oldest time): keys
// of two entries compare as (STIME to the second, ID) do, for ids from 0 below kOrderedIdBound
// and years 1900 to 2171 (earlier and later ones count as those). Entries stamped within one
// second are ordered by id, as the program writes them. Other ids get negative keys, below
// every other, ordered by the id's low 62 bits; two keys are equal only for equal ids unless
// ids differ by a multiple of 2^62, which the index resolves by taking the next free key down.
std::int64_t SearchOrderKey(std::string_view stime, std::int64_t id);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SEARCH_ORDER_H_
