// How the pages write an entry's time. STIME is stored as "YYYY-MM-DD HH:MM:SS" text, with or
// without fractional seconds; the pages write it in the Chinese regional short format.
#ifndef TESSALY_PAGES_DATE_FORMAT_H_
#define TESSALY_PAGES_DATE_FORMAT_H_

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace tessaly::pages {

// "2026-12-06 14:05:09.123" gives "2026/12/6 14:05:09"; at exactly midnight the date alone,
// "2026/12/6". Fractions of a second are dropped. Text of any other shape comes back unchanged.
std::string FormatDateTime(std::string_view stime);

// The date part alone: "2026/12/6". Text of any other shape comes back unchanged.
std::string FormatDate(std::string_view stime);

// STIME read as the server's local time: seconds since the epoch, or nothing for text of any
// other shape.
std::optional<std::time_t> EpochSeconds(std::string_view stime);

// STIME as an RFC 3339 time with the server's UTC offset at that moment
// ("2026-12-06T14:05:09+08:00"); empty for text of any other shape.
std::string Rfc3339(std::string_view stime);

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_DATE_FORMAT_H_
