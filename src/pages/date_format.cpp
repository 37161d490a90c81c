#include "pages/date_format.h"

#include <optional>

namespace tessaly::pages {
namespace {

struct DateTime {
  int year, month, day, hour, minute, second;
};

bool Digits(std::string_view s, std::size_t pos, std::size_t count, int& out) {
  if (pos + count > s.size()) return false;
  out = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

// Accepts "YYYY-MM-DD", optionally followed by " HH:MM:SS" (or "T") and a fraction.
std::optional<DateTime> Parse(std::string_view s) {
  DateTime t{};
  if (!Digits(s, 0, 4, t.year) || s.size() < 10 || s[4] != '-' || s[7] != '-' ||
      !Digits(s, 5, 2, t.month) || !Digits(s, 8, 2, t.day)) {
    return std::nullopt;
  }
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31) return std::nullopt;
  if (s.size() == 10) return t;
  if ((s[10] != ' ' && s[10] != 'T') || s.size() < 19 || s[13] != ':' || s[16] != ':' ||
      !Digits(s, 11, 2, t.hour) || !Digits(s, 14, 2, t.minute) || !Digits(s, 17, 2, t.second)) {
    return std::nullopt;
  }
  if (t.hour > 23 || t.minute > 59 || t.second > 59) return std::nullopt;
  if (s.size() > 19) {
    if (s[19] != '.' || s.size() == 20 ||
        s.substr(20).find_first_not_of("0123456789") != std::string_view::npos) {
      return std::nullopt;
    }
  }
  return t;
}

std::string Date(const DateTime& t) {
  return std::to_string(t.year) + "/" + std::to_string(t.month) + "/" + std::to_string(t.day);
}

std::string TwoDigits(int n) {
  return {static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)};
}

}  // namespace

std::string FormatDateTime(std::string_view stime) {
  const auto t = Parse(stime);
  if (!t) return std::string(stime);
  if (t->hour == 0 && t->minute == 0 && t->second == 0) return Date(*t);
  return Date(*t) + " " + std::to_string(t->hour) + ":" + TwoDigits(t->minute) + ":" +
         TwoDigits(t->second);
}

std::string FormatDate(std::string_view stime) {
  const auto t = Parse(stime);
  return t ? Date(*t) : std::string(stime);
}

std::optional<std::time_t> EpochSeconds(std::string_view stime) {
  const auto t = Parse(stime);
  if (!t) return std::nullopt;
  std::tm parts{};
  parts.tm_year = t->year - 1900;
  parts.tm_mon = t->month - 1;
  parts.tm_mday = t->day;
  parts.tm_hour = t->hour;
  parts.tm_min = t->minute;
  parts.tm_sec = t->second;
  parts.tm_isdst = -1;  // the zone's rules decide, summer time included
  return std::mktime(&parts);
}

std::string Rfc3339(std::string_view stime) {
  const auto when = EpochSeconds(stime);
  if (!when) return {};
  std::tm local{};
  localtime_r(&*when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const int minutes = static_cast<int>(local.tm_gmtoff / 60);
  const int magnitude = minutes < 0 ? -minutes : minutes;
  return std::string(text) + (minutes < 0 ? "-" : "+") + TwoDigits(magnitude / 60 % 100) + ":" +
         TwoDigits(magnitude % 60);
}

}  // namespace tessaly::pages
