#include "server/answer.h"

namespace tessaly::server {

namespace http = boost::beast::http;

void Answer::Clear() {
  boost::beast::error_code ignored;
  if (file.is_open()) file.close(ignored);
  content_length.reset();
  body.clear();
}

void Answer::Refuse(http::status status, std::string_view header, std::string_view value) {
  boost::beast::error_code ignored;
  if (file.is_open()) file.close(ignored);
  const auto reason = http::obsolete_reason(status);
  body.assign("<html><body><h1>");
  body.append(std::to_string(static_cast<unsigned>(status))).append(" ");
  body.append(reason.data(), reason.size()).append("</h1></body></html>\n");
  head.Start(status);
  head.Add("Content-Type", "text/html; charset=utf-8");
  if (!header.empty()) head.Add(header, value);
  content_length = body.size();
}

}  // namespace tessaly::server
