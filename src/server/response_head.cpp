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

}  // namespace

void ResponseHead::Start(http::status status) {
  status_ = static_cast<unsigned>(status);
  lines_.clear();
}

void ResponseHead::Add(std::string_view name, std::string_view value) {
  lines_.append(name).append(": ").append(value).append("\r\n");
}

void WriteHead(const ResponseHead& head, std::string_view date,
               std::optional<std::uint64_t> content_length, bool keep_alive, unsigned version,
               std::string& out) {
  auto reason = http::obsolete_reason(static_cast<http::status>(head.status()));
  out.clear();
  out.append("HTTP/1.1 ");
  AppendDecimal(out, head.status());
  out.append(" ").append(reason.data(), reason.size()).append("\r\n");
  out.append("Server: Tessaly\r\nDate: ").append(date).append("\r\n");
  out.append(head.lines());
  if (content_length) {
    out.append("Content-Length: ");
    AppendDecimal(out, *content_length);
    out.append("\r\n");
  }
  if (!keep_alive) {
    out.append("Connection: close\r\n");
  } else if (version == 10) {
    out.append("Connection: keep-alive\r\n");
  }
  out.append("\r\n");
}

std::string_view HttpDateClock::Now() {
  const std::time_t now = std::time(nullptr);
  if (now != second_) {
    second_ = now;
    text_ = HttpDate(now, buffer_);
  }
  return text_;
}

}  // namespace tessaly::server
