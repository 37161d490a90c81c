// The head of one answer: its status and the header lines that say what the answer is, in a
// buffer reused from answer to answer; and the head as it goes out, with the lines that the
// connection adds (Server, Date, Content-Length, Connection).
#ifndef TESSALY_SERVER_RESPONSE_HEAD_H_
#define TESSALY_SERVER_RESPONSE_HEAD_H_

#include <boost/beast/http/status.hpp>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "base/http_date.h"

namespace tessaly::server {

class ResponseHead {
 public:
  // Starts a new head with `status` and no lines.
  void Start(boost::beast::http::status status);

  // Adds one header line. `value` must hold no line break: callers pass only values the server
  // made or checked.
  void Add(std::string_view name, std::string_view value);
  // Adds header lines made elsewhere, each ending in CR LF, checked as Add's values are.
  void AddLines(std::string_view lines) { lines_.append(lines); }

  unsigned status() const { return status_; }
  // The lines added since Start, each ending in CR LF.
  std::string_view lines() const { return lines_; }

 private:
  std::string lines_;
  unsigned status_ = 0;
};

// Writes into `out` (cleared first) the head as sent: the status line, Server, Date (`date`),
// the lines of `head`, Content-Length unless `content_length` is empty (304), then the
// Connection header that `keep_alive` needs for a client of HTTP `version` (10 or 11), and the
// empty line.
void WriteHead(const ResponseHead& head, std::string_view date,
               std::optional<std::uint64_t> content_length, bool keep_alive, unsigned version,
               std::string& out);

// The Date header's value, formatted once a second rather than once an answer. One event
// loop's (loop_state.h): not thread-safe.
class HttpDateClock {
 public:
  HttpDateClock() = default;
  HttpDateClock(const HttpDateClock&) = delete;  // text_ views buffer_
  HttpDateClock& operator=(const HttpDateClock&) = delete;

  std::string_view Now();

 private:
  std::time_t second_ = -1;
  char buffer_[32]{};
  std::string_view text_;
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_RESPONSE_HEAD_H_
