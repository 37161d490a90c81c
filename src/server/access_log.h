// The lines of the access log: one per request answered, in the plain text format or as one JSON
// object (for journald and log shippers). Pure functions of the request's record.
//
// Either way the target has the passwords of its query masked (MaskPasswords, url_encoding.h),
// and nothing a client sends can break a line: the text line is the request's own bytes (Beast
// has refused a head with control characters), and in the JSON line every string is escaped
// (quotes, backslashes, control characters as \u escapes; a byte that is not part of
// well-formed UTF-8 becomes U+FFFD), so each line parses as one JSON object.
#ifndef TESSALY_SERVER_ACCESS_LOG_H_
#define TESSALY_SERVER_ACCESS_LOG_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly::server {

// What the access log records of one request.
struct AccessRecord {
  std::chrono::system_clock::time_point time;  // when the answer was done
  std::string_view client;                     // the client's address (client_address.h)
  std::string_view method;                     // "-" when the head was not read
  std::string_view target;                     // as sent; "-" when the head was not read
  unsigned status = 0;
  std::uint64_t bytes = 0;                         // of the body sent
  std::chrono::steady_clock::duration duration{};  // first byte read to last byte sent
  std::string_view route;                          // route_kind.h
  bool cache_hit = false;                          // the page came from the kept renderings
};

// "CLIENT METHOD TARGET STATUS BYTES 1.234ms"; the logger puts the local time before it.
std::string TextAccessLine(const AccessRecord& record);

// {"time":"2026-01-02T03:04:05.678Z","client":...,"method":...,"target":...,"status":200,
// "bytes":123,"duration_us":456,"route":"hotnews","cache_hit":true}: the time in UTC with
// milliseconds, the duration in whole microseconds.
std::string JsonAccessLine(const AccessRecord& record);

// Appends `text` to `out` as a JSON string, quotes included, escaped as described above.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_ACCESS_LOG_H_
