// How the pages write an entry's time. STIME is stored as "YYYY-MM-DD HH:MM:SS" text, with or
// without fractional seconds; the pages write it in the Chinese regional short format.
#ifndef TESSALY_PAGES_DATE_FORMAT_H_
#define TESSALY_PAGES_DATE_FORMAT_H_

#include <string>
#include <string_view>

namespace tessaly::pages {

// "2026-12-06 14:05:09.123" gives "2026/12/6 14:05:09"; at exactly midnight the date alone,
// "2026/12/6". Fractions of a second are dropped. Text of any other shape comes back unchanged.
std::string FormatDateTime(std::string_view stime);

// The date part alone: "2026/12/6". Text of any other shape comes back unchanged.
std::string FormatDate(std::string_view stime);

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_DATE_FORMAT_H_
