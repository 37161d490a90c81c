#include "data/search_order.h"

#include <algorithm>

namespace tessaly::data {
namespace {

constexpr std::int64_t kFirstYear = 1900;
constexpr std::int64_t kSecondsBound = std::int64_t{1} << 33;  // from kFirstYear, until 2172

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Reads `digits` digits at `at`, after `separator` unless it is 0; false when they are not all
// there.
bool ReadField(std::string_view text, std::size_t& at, char separator, int digits,
               std::int64_t& value) {
  std::size_t i = at;
  if (separator != 0) {
    if (i >= text.size() || text[i] != separator) return false;
    ++i;
  }
  std::int64_t v = 0;
  for (int n = 0; n < digits; ++n, ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  value = v;
  at = i;
  return true;
}

// Seconds from the start of kFirstYear to `stime`, within [0, kSecondsBound).
std::int64_t Seconds(std::string_view stime) {
  std::int64_t year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  std::size_t at = 0;
  if (!ReadField(stime, at, 0, 4, year)) return 0;
  if (ReadField(stime, at, '-', 2, month) && ReadField(stime, at, '-', 2, day) &&
      ReadField(stime, at, ' ', 2, hour) && ReadField(stime, at, ':', 2, minute)) {
    ReadField(stime, at, ':', 2, second);
  }
  month = std::clamp<std::int64_t>(month, 1, 12);
  day = std::clamp<std::int64_t>(day, 1, 31);
  const std::int64_t seconds =
      (DaysFromCivil(year, month, day) - DaysFromCivil(kFirstYear, 1, 1)) * 86400 +
      std::min<std::int64_t>(hour, 99) * 3600 + std::min<std::int64_t>(minute, 99) * 60 +
      std::min<std::int64_t>(second, 99);
  return std::clamp<std::int64_t>(seconds, 0, kSecondsBound - 1);
}

}  // namespace

std::int64_t SearchOrderKey(std::string_view stime, std::int64_t id) {
  if (id < 0 || id >= kOrderedIdBound) {
    constexpr std::uint64_t kLow62 = (std::uint64_t{1} << 62) - 1;
    return -1 - static_cast<std::int64_t>(static_cast<std::uint64_t>(id) & kLow62);
  }
  return Seconds(stime) << 30 | id;
}

}  // namespace tessaly::data
