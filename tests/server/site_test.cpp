// What the site answers to a request, without a socket: files, pages with includes, and the
// refusals. How the answers travel (heads, keep-alive, pieces of large files) is the
// connection's, in server_test.cpp.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "base/http_date.h"
#include "server/file_texts.h"
#include "server/site.h"
#include "support/temp_dir.h"

namespace tessaly::server {
namespace {

namespace http = boost::beast::http;

class SiteTest : public ::testing::Test {
 protected:
  SiteTest() {
    dir_.Write("style.css", "body{}");
    dir_.Write("log/logs.mdb", "db");
    loop_.pages.handler = handler_;
  }

  // The answer to `method` of `path` (query `query`) with the request head `headers`.
  const Answer& Ask(std::string_view method, std::string_view path, std::string_view query = {},
                    const http::fields& headers = {}, std::string_view body = {}) {
    const RequestLine line{.method = method,
                           .script_name = {},
                           .query = query,
                           .version = 11,
                           .remote_address = "192.0.2.1",
                           .remote_port = 5000,
                           .server_port = 8080,
                           .listen_host = "127.0.0.1"};
    const Target target = site_.Find(method, path, loop_);
    site_.Handle(SiteRequest{path, headers, line, body}, target, loop_, answer_);
    return answer_;
  }

  support::TempDir dir_;
  SessionStore sessions_{10, 20};
  // The page writes its method and query; asked with "s=1" it starts a session.
  PageHandler handler_ = [](host::ScriptingContext& context, const PageConfig&) {
    if (context.request.QueryString() == "s=1") context.session.SetValue("k", "v");
    context.response.Write(context.request.ServerVariable("REQUEST_METHOD") + " " +
                           context.request.QueryString());
  };
  Site site_{{PageConfig{}}, std::filesystem::canonical(dir_.path()), sessions_, {100, kMiB}};
  LoopState loop_;
  Answer answer_;
};

TEST_F(SiteTest, AFileWithItsTypeAndDateNotModifiedOnThatDateALargeOneLeftOpen) {
  const Answer& css = Ask("GET", "/style.css", "v=1");
  struct stat info {};
  ASSERT_EQ(::stat((dir_.path() / "style.css").c_str(), &info), 0);
  const std::string modified = HttpDate(info.st_mtim.tv_sec);
  EXPECT_EQ(css.head.status(), 200u);
  EXPECT_EQ(css.head.lines(),
            "Content-Type: text/css; charset=utf-8\r\nLast-Modified: " + modified + "\r\n");
  EXPECT_EQ(css.body, "body{}");
  EXPECT_EQ(css.content_length, 6u);

  http::fields conditional;
  conditional.set(http::field::if_modified_since, modified);
  const Answer& same = Ask("HEAD", "/style.css", {}, conditional);
  EXPECT_EQ(same.head.status(), 304u);
  EXPECT_EQ(same.head.lines(), "Last-Modified: " + modified + "\r\n");
  EXPECT_EQ(same.body, "");
  EXPECT_FALSE(same.content_length);

  dir_.Write("large.bin", std::string(kMaxKeptFileBytes + 1, 'x'));
  const Answer& large = Ask("GET", "/large.bin");
  EXPECT_EQ(large.head.lines().substr(0, 40), "Content-Type: application/octet-stream\r\n");
  EXPECT_EQ(large.body, "");
  EXPECT_TRUE(large.file.is_open());
  EXPECT_EQ(large.content_length, kMaxKeptFileBytes + 1);
  Ask("GET", "/style.css");
  EXPECT_FALSE(answer_.file.is_open());  // the next answer lets it go
}

// Each include of a page runs it as a GET of its own, whatever the visitor asked with; the
// session it starts goes out with the page, which is made anew each time (never a 304).
TEST_F(SiteTest, APageWithIncludesRunsThemAsGetsAndPassesTheirSessionOn) {
  dir_.Write("a/index.shtml",
             "<!--#include virtual=\"/log/board?s=1\" -->|<!--#include virtual=\"../style.css\" -->"
             "|<!--#include virtual=\"/log/logs.mdb\" -->");
  http::fields conditional;
  conditional.set(http::field::if_modified_since, "Sun, 06 Nov 1994 08:49:37 GMT");
  const Answer& page = Ask("HEAD", "/a/", {}, conditional);
  EXPECT_EQ(page.head.status(), 200u);
  EXPECT_EQ(page.body, "GET s=1|body{}|<!-- include failed: not found -->");
  EXPECT_EQ(page.content_length, page.body.size());
  const std::string lines(page.head.lines());
  const std::string expected_start =
      "Content-Type: text/html; charset=utf-8\r\nCache-Control: private\r\n"
      "Set-Cookie: TSESSIONID=";
  EXPECT_EQ(lines.substr(0, expected_start.size()), expected_start);
  EXPECT_TRUE(lines.ends_with("; Path=/; HttpOnly; SameSite=Strict\r\n")) << lines;
  EXPECT_EQ(sessions_.size(), 1u);
}

// Which paths may be served is pinned in server_test.cpp, a bad form over a socket there too.
TEST_F(SiteTest, RefusesWhatOnlyAPageTakesAndAPageItCannotReadWhole) {
  const Answer& post = Ask("POST", "/style.css");
  EXPECT_EQ(post.head.status(), 405u);
  EXPECT_EQ(post.head.lines(), "Content-Type: text/html; charset=utf-8\r\nAllow: GET, HEAD\r\n");
  EXPECT_EQ(post.body, "<html><body><h1>405 Method Not Allowed</h1></body></html>\n");
  dir_.Write("big.shtml", std::string(kMaxKeptFileBytes + 1, 'x'));
  EXPECT_EQ(Ask("GET", "/big.shtml").head.status(), 500u);
}

}  // namespace
}  // namespace tessaly::server
