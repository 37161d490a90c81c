// Times as HTTP writes them (RFC 9110 IMF-fixdate), e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
#ifndef TESSALY_BASE_HTTP_DATE_H_
#define TESSALY_BASE_HTTP_DATE_H_

#include <ctime>
#include <string>
#include <string_view>

namespace tessaly {

// The text of `when` in `buffer`, without allocating.
inline std::string_view HttpDate(std::time_t when, char (&buffer)[32]) {
  std::tm parts{};
  gmtime_r(&when, &parts);
  const std::size_t length =
      std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return {buffer, length};
}

inline std::string HttpDate(std::time_t when) {
  char buffer[32];
  return std::string(HttpDate(when, buffer));
}

}  // namespace tessaly

#endif  // TESSALY_BASE_HTTP_DATE_H_
