#include "server/response_head.h"

#include <charconv>

namespace tessaly::server {
namespace {

namespace http = boost::beast::http;

void AppendDecimal(std::string& out, std::uint64_t value) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// The Date header changes once a second; each thread formats it once per second.
std::string_view CurrentHttpDate() {
  thread_local std::time_t cached_second = -1;
  thread_local char buffer[32];
  thread_local std::string_view text;
  std::time_t now = std::time(nullptr);
  if (now != cached_second) {
    cached_second = now;
    text = HttpDate(now, buffer);
  }
  return text;
}

}  // namespace

void ResponseHead::Start(http::status status) {
  status_ = static_cast<unsigned>(status);
  auto reason = http::obsolete_reason(status);
  text_.clear();
  text_.append("HTTP/1.1 ");
  AppendDecimal(text_, status_);
  text_.append(" ").append(reason.data(), reason.size()).append("\r\n");
  text_.append("Server: Tessaly\r\nDate: ").append(CurrentHttpDate()).append("\r\n");
}

void ResponseHead::Add(std::string_view name, std::string_view value) {
  text_.append(name).append(": ").append(value).append("\r\n");
}

void ResponseHead::End(std::optional<std::uint64_t> content_length, bool keep_alive,
                       unsigned version) {
  if (content_length) {
    text_.append("Content-Length: ");
    AppendDecimal(text_, *content_length);
    text_.append("\r\n");
  }
  if (!keep_alive) {
    text_.append("Connection: close\r\n");
  } else if (version == 10) {
    text_.append("Connection: keep-alive\r\n");
  }
  text_.append("\r\n");
}

}  // namespace tessaly::server
