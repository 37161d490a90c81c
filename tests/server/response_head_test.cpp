#include "server/response_head.h"

#include <gtest/gtest.h>

namespace tessaly::server {
namespace {

namespace http = boost::beast::http;

// The head without its Date line, which changes every second.
std::string WithoutDate(std::string_view head) {
  std::string text(head);
  std::size_t date = text.find("Date: ");
  if (date != std::string::npos) text.erase(date, text.find("\r\n", date) + 2 - date);
  return text;
}

TEST(ResponseHeadTest, WritesStatusHeadersLengthAndConnection) {
  ResponseHead head;
  head.Start(http::status::ok);
  head.Add("Content-Type", "text/plain");
  head.End(5, true, 11);
  EXPECT_EQ(head.status(), 200u);
  EXPECT_NE(head.text().find("\r\nDate: "), std::string_view::npos);
  EXPECT_EQ(WithoutDate(head.text()),
            "HTTP/1.1 200 OK\r\nServer: Tessaly\r\nContent-Type: text/plain\r\n"
            "Content-Length: 5\r\n\r\n");

  // The buffer is reused; a 304 has no length; a kept HTTP/1.0 connection says so.
  head.Start(http::status::not_modified);
  head.End(std::nullopt, true, 10);
  EXPECT_EQ(WithoutDate(head.text()),
            "HTTP/1.1 304 Not Modified\r\nServer: Tessaly\r\nConnection: keep-alive\r\n\r\n");

  head.Start(http::status::not_found);
  head.End(0, false, 11);
  EXPECT_EQ(WithoutDate(head.text()),
            "HTTP/1.1 404 Not Found\r\nServer: Tessaly\r\nContent-Length: 0\r\n"
            "Connection: close\r\n\r\n");
}

TEST(ResponseHeadTest, DatesAreRfc9110) {
  char buffer[32];
  EXPECT_EQ(HttpDate(784111777, buffer), "Sun, 06 Nov 1994 08:49:37 GMT");
}

}  // namespace
}  // namespace tessaly::server
