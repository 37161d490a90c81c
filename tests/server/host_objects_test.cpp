// The host objects of a page request, and a page run through them with the head it writes.
#include "server/host_objects.h"

#include <gtest/gtest.h>

#include "base/errors.h"
#include "server/page_run.h"

namespace tessaly::server {
namespace {

namespace http = boost::beast::http;

// Items come from the query first, then from the form, which only a url-encoded POST has, then
// from the cookies. The variables that the head and body decide are here; the rest are copied
// from the connection.
TEST(PageRequestTest, ItemsVariablesAndTheBodyReadOnwards) {
  RequestLine line;
  line.method = "POST";
  line.query = "action=list";
  line.listen_host = "0.0.0.0";
  http::fields headers;
  headers.insert(http::field::host, "example.org:8080");
  headers.insert(http::field::content_type, "application/x-www-form-urlencoded");
  headers.insert(http::field::cookie, "action=cookie; do=fromcookie");
  headers.insert("X-Forwarded-For", "a");
  headers.insert("x-forwarded-for", "b");
  PageRequest post(line, headers, "do=fromform&action=form");
  EXPECT_EQ(post.Item("do"), "fromform");
  EXPECT_EQ(post.Item("action"), "list");
  EXPECT_EQ(post.ServerVariable("SERVER_NAME"), "example.org");
  EXPECT_EQ(post.ServerVariable("CONTENT_LENGTH"), "23");
  EXPECT_EQ(post.ServerVariable("HTTP_X_FORWARDED_FOR"), "a, b");
  EXPECT_EQ(post.ServerVariable("script_name"), "");
  EXPECT_EQ(post.BinaryRead(4), "do=f");
  EXPECT_EQ(post.BinaryRead(100), "romform&action=form");
  EXPECT_EQ(post.BinaryRead(1), "");
  EXPECT_EQ(post.TotalBytes(), 23);

  line.method = "GET";
  EXPECT_EQ(PageRequest(line, headers, "do=fromform").Item("do"), "fromcookie");
  line.method = "POST";
  headers.set(http::field::content_type, "multipart/form-data; boundary=x");
  headers.erase(http::field::host);
  const PageRequest multipart(line, headers, "do=fromform");
  EXPECT_EQ(multipart.Item("do"), "fromcookie");
  EXPECT_EQ(multipart.ServerVariable("SERVER_NAME"), "0.0.0.0");
}

TEST(MapPathTest, MapsFromThePageFolderOrTheRootAndNeverAbove) {
  EXPECT_EQ(MapVirtualPath("/srv/site", "/log/board", "."), "/srv/site/log");
  EXPECT_EQ(MapVirtualPath("/srv/site", "/board", "."), "/srv/site");
  EXPECT_EQ(MapVirtualPath("/srv/site", "/log/board", "log/"), "/srv/site/log/log");
  EXPECT_EQ(MapVirtualPath("/srv/site", "/log/board", "../img\\a.gif"), "/srv/site/img/a.gif");
  EXPECT_EQ(MapVirtualPath("/srv/site", "/log/board", "\\data/x.mdb"), "/srv/site/data/x.mdb");
  EXPECT_EQ(MapVirtualPath("/", "/log/board", "."), "/log");
  EXPECT_EQ(MapVirtualPath("/", "/log/board", "/"), "/");
  EXPECT_THROW(MapVirtualPath("/srv/site", "/log/board", "../.."), Error);
}

TEST(PageSessionTest, CreatedAtFirstWriteAndAbandonedAtTheEnd) {
  SessionStore store(10, 20);
  std::string cookie;
  {
    PageSession session(store, "TSESSIONID=0123456789abcdef0123456789abcdef");  // not ours
    EXPECT_EQ(session.Value("username"), "");
    EXPECT_EQ(store.size(), 0u);
    session.SetValue("username", "admin");
    cookie = session.Finish().value_or("");
  }
  const std::string id = cookie.substr(cookie.find('=') + 1, 32);
  EXPECT_NE(id, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(cookie, "TSESSIONID=" + id + "; Path=/; HttpOnly; SameSite=Strict");
  PageSession session(store, "a=b; TSESSIONID=" + id);
  EXPECT_EQ(session.Value("username"), "admin");
  session.Abandon();
  session.SetValue("username", "still");  // usable until the request ends
  EXPECT_EQ(session.Value("username"), "still");
  EXPECT_THROW(session.SetTimeout(0), Error);
  EXPECT_EQ(session.Finish(), "TSESSIONID=; Max-Age=0; Path=/; HttpOnly; SameSite=Strict");
  EXPECT_EQ(store.size(), 0u);
}

TEST(PageRunTest, ThePageAndItsHeadersGoOutButNotAFailuresHeadersOrDetail) {
  SessionStore sessions(10, 20);
  const PageConfig default_page;
  RequestLine line;
  line.method = "POST";
  line.script_name = default_page.path;
  ResponseHead head;
  std::string body;
  // The head of a POST of "raw" to the default page, as the connection ends it for an HTTP/1.0
  // client that keeps it; its Date, which changes every second, written "Date: D".
  const auto run = [&](const PageHandler& handler) {
    const PageHost host{handler, sessions, "/srv/site"};
    head.End(RunPage(host, default_page, line, {}, "raw", head, body), true, 10);
    const std::string text(head.text());
    const std::size_t date = text.find("\r\nDate: ") + 8;
    return text.substr(0, date) + "D" + text.substr(text.find("\r\n", date));
  };

  EXPECT_EQ(run([](host::ScriptingContext& context, const PageConfig& page) {
              context.response.AddHeader("X-Page", "1");
              context.response.Write(page.web_path.ToString() + " " + context.server.MapPath("."));
              context.response.BinaryWrite(" " + context.request.BinaryRead(100));
              context.response.End();
              context.response.Write(" late");
            }),
            "HTTP/1.1 200 OK\r\nServer: Tessaly\r\nDate: D\r\n"
            "Content-Type: text/html; charset=utf-8\r\nX-Page: 1\r\nCache-Control: private\r\n"
            "Content-Length: 21\r\nConnection: keep-alive\r\n\r\n");
  EXPECT_EQ(body, "log /srv/site/log raw");

  // A failing page, here one whose type would break the head, answers 500 with what it wrote
  // and a short report, without its headers or what went wrong.
  const std::string failed = run([](host::ScriptingContext& context, const PageConfig&) {
    context.response.Write("<p>before</p>");
    context.response.AddHeader("X-Page", "1");
    context.response.SetContentType("text/html\r\nX-Injected: 1");
  });
  EXPECT_TRUE(failed.starts_with("HTTP/1.1 500 Internal Server Error\r\n")) << failed;
  EXPECT_EQ(failed.find("X-"), std::string::npos) << failed;
  EXPECT_TRUE(body.starts_with("<p>before</p>"));
  EXPECT_GT(body.size(), std::string_view("<p>before</p>").size());
  EXPECT_EQ(body.find("ContentType"), std::string::npos) << body;
  char date[32];  // and dates are written as HTTP writes them
  EXPECT_EQ(HttpDate(784111777, date), "Sun, 06 Nov 1994 08:49:37 GMT");
}

}  // namespace
}  // namespace tessaly::server
