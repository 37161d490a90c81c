// What the server answers to one request, made without a socket: the site writes it (site.h),
// the connection sends it. One Answer is reused from request to request, so that its buffers
// keep their room.
#ifndef TESSALY_SERVER_ANSWER_H_
#define TESSALY_SERVER_ANSWER_H_

#include <boost/beast/core/file.hpp>
#include <boost/beast/http/status.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/response_head.h"

namespace tessaly::server {

struct Answer {
  // Makes the answer empty for the next request; closes a file left open.
  void Clear();

  // The server's own answer with `status`: a short HTML page that names it, and the header
  // `header: value` when `header` is given.
  void Refuse(boost::beast::http::status status, std::string_view header = {},
              std::string_view value = {});

  ResponseHead head;
  std::optional<std::uint64_t> content_length;  // none: the answer has no body (304, 204)
  std::string body;                             // the body, unless a file is sent
  // A file too large to hold, sent from the disk after the head: open, with its size stated
  // in content_length.
  boost::beast::file file;
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_ANSWER_H_
