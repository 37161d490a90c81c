// Times as HTTP writes them (RFC 9110 IMF-fixdate), e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
#ifndef TESSALY_BASE_HTTP_DATE_H_
#define TESSALY_BASE_HTTP_DATE_H_

#include <ctime>
#include <string>

namespace tessaly {

inline std::string HttpDate(std::time_t when) {
  std::tm parts{};
  gmtime_r(&when, &parts);
  char buffer[32];
  const std::size_t length =
      std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return std::string(buffer, length);
}

}  // namespace tessaly

#endif  // TESSALY_BASE_HTTP_DATE_H_
