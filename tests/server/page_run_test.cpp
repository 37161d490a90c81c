#include "server/page_run.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tessaly::server {
namespace {

namespace http = boost::beast::http;

class PageRunTest : public ::testing::Test {
 protected:
  PageRunTest() {
    line_.method = "POST";
    line_.script_name = page_.path;
  }

  // Runs `handler` for one request; head_ holds the head, ended as the connection ends it.
  std::string Run(const PageHandler& handler, std::string_view request_body = {}) {
    std::string body;
    head_.End(RunPage(PageHost{handler, sessions_, "/srv/site"}, page_, line_, headers_,
                      request_body, head_, body),
              true, 11);
    return body;
  }
  std::string Header(std::string_view name) const {
    std::string text(head_.text());
    std::size_t at = text.find("\r\n" + std::string(name) + ": ");
    if (at == std::string::npos) return "";
    at += name.size() + 4;
    return text.substr(at, text.find("\r\n", at) - at);
  }

  PageConfig page_;
  RequestLine line_;
  http::fields headers_;
  SessionStore sessions_{10, 20};
  ResponseHead head_;
};

TEST_F(PageRunTest, TheHandlerWritesThePageThroughTheHostObjects) {
  std::string body = Run(
      [](host::ScriptingContext& context, const PageConfig& page) {
        context.response.Write(page.web_path.ToString() + " " + context.server.MapPath(".") + " ");
        context.response.BinaryWrite(context.request.BinaryRead(100));
      },
      "raw");
  EXPECT_EQ(body, "log /srv/site/log raw");
  EXPECT_EQ(head_.status(), 200u);
  EXPECT_EQ(Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(Header("Cache-Control"), "private");
  EXPECT_EQ(Header("Set-Cookie"), "");  // nothing was written to the session

  Run([](host::ScriptingContext& context, const PageConfig&) {
    context.response.SetContentType("image/gif");
    context.session.SetValue("tPage", "1");
  });
  EXPECT_EQ(Header("Content-Type"), "image/gif");
  EXPECT_EQ(Header("Set-Cookie").find("TSESSIONID="), 0u);
  EXPECT_EQ(sessions_.size(), 1u);
}

TEST_F(PageRunTest, APageMaySetItsStatusAndHeaders) {
  std::string body = Run([](host::ScriptingContext& context, const PageConfig&) {
    context.response.AddHeader("ETag", "\"1\"");
    context.response.SetStatus(304);
    context.response.Write("dropped");
  });
  EXPECT_EQ(head_.status(), 304u);
  EXPECT_EQ(body, "");
  EXPECT_EQ(Header("ETag"), "\"1\"");
  EXPECT_EQ(Header("Content-Type"), "");
  EXPECT_EQ(Header("Content-Length"), "");  // a 304 has no body
}

TEST_F(PageRunTest, AFailingPageAnswers500WithWhatItWroteAndNoDetail) {
  std::string body = Run([](host::ScriptingContext& context, const PageConfig&) {
    context.response.Write("<p>before</p>");
    throw std::runtime_error("database is locked");
  });
  EXPECT_EQ(head_.status(), 500u);
  EXPECT_EQ(body.find("<p>before</p>"), 0u);
  EXPECT_GT(body.size(), std::string_view("<p>before</p>").size());
  EXPECT_EQ(body.find("locked"), std::string::npos);
}

}  // namespace
}  // namespace tessaly::server
