// The status line and header lines of one answer, written into a buffer that a connection
// reuses from answer to answer.
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
  // Starts a new head: the status line, Server and Date.
  void Start(boost::beast::http::status status);

  // Adds one header line. `value` must hold no line break: callers pass only values the server
  // made or checked.
  void Add(std::string_view name, std::string_view value);
  // Adds header lines made elsewhere, each ending in CR LF, checked as Add's values are.
  void AddLines(std::string_view lines) { text_.append(lines); }

  // Ends the head: Content-Length unless `content_length` is empty (304), then the Connection
  // header that `keep_alive` needs for a client of HTTP `version` (10 or 11).
  void End(std::optional<std::uint64_t> content_length, bool keep_alive, unsigned version);

  std::string_view text() const { return text_; }
  unsigned status() const { return status_; }

 private:
  std::string text_;
  unsigned status_ = 0;
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_RESPONSE_HEAD_H_
