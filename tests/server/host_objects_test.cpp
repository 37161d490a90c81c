#include "server/host_objects.h"

#include <gtest/gtest.h>

#include "base/errors.h"

namespace tessaly::server {
namespace {

namespace http = boost::beast::http;

class PageRequestTest : public ::testing::Test {
 protected:
  PageRequestTest() {
    line_.method = "POST";
    line_.script_name = "/log/board";
    line_.query = "action=list&id=1&id=2&q=a%2Bb+c";
    line_.remote_address = "10.0.0.7";
    line_.remote_port = 50123;
    line_.server_port = 8080;
    line_.listen_host = "0.0.0.0";
    headers_.insert(http::field::host, "example.org:8080");
    headers_.insert(http::field::content_type, "application/x-www-form-urlencoded");
    headers_.insert(http::field::cookie, "action=cookie; do=fromcookie; REQUEST_METHOD=x");
    headers_.insert("X-Forwarded-For", "a");
    headers_.insert("x-forwarded-for", "b");
  }

  RequestLine line_;
  http::fields headers_;
};

TEST_F(PageRequestTest, FormOnlyFromUrlEncodedPosts) {
  PageRequest post(line_, headers_, "do=fromform&action=form");
  EXPECT_EQ(post.Item("do"), "fromform");
  EXPECT_EQ(post.Item("action"), "list");  // the query comes first

  line_.method = "GET";
  PageRequest get(line_, headers_, "do=fromform");
  EXPECT_EQ(get.Item("do"), "fromcookie");

  line_.method = "POST";
  headers_.set(http::field::content_type, "multipart/form-data; boundary=x");
  PageRequest multipart(line_, headers_, "do=fromform");
  EXPECT_EQ(multipart.Item("do"), "fromcookie");
}

// The variables that the request's head decides; the rest are copied from the connection.
TEST_F(PageRequestTest, ServerVariablesFromTheHead) {
  PageRequest request(line_, headers_, "abc");
  EXPECT_EQ(request.ServerVariable("SERVER_NAME"), "example.org");
  EXPECT_EQ(request.ServerVariable("CONTENT_LENGTH"), "3");
  EXPECT_EQ(request.ServerVariable("HTTP_X_FORWARDED_FOR"), "a, b");
  EXPECT_EQ(request.ServerVariable("HTTP_HOST"), "example.org:8080");
  EXPECT_EQ(request.ServerVariable("HTTP_ACCEPT"), "");
  EXPECT_EQ(request.ServerVariable("script_name"), "");

  headers_.erase(http::field::host);
  PageRequest without_host(line_, headers_, "");
  EXPECT_EQ(without_host.ServerVariable("SERVER_NAME"), "0.0.0.0");
}

TEST_F(PageRequestTest, BinaryReadContinuesWhereItStopped) {
  PageRequest request(line_, headers_, "0123456789");
  EXPECT_EQ(request.TotalBytes(), 10);
  EXPECT_EQ(request.BinaryRead(4), "0123");
  EXPECT_EQ(request.BinaryRead(0), "");
  EXPECT_EQ(request.BinaryRead(100), "456789");
  EXPECT_EQ(request.BinaryRead(1), "");
}

TEST(PageResponseTest, WritesUntilEnd) {
  std::string body;
  PageResponse response(body);
  EXPECT_EQ(response.content_type(), "text/html; charset=utf-8");
  response.Write("<p>");
  response.BinaryWrite(std::string_view("\0\1", 2));
  response.SetContentType("image/gif");
  response.End();
  response.Write("late");
  EXPECT_EQ(body, std::string("<p>\0\1", 5));
  EXPECT_EQ(response.content_type(), "image/gif");
  EXPECT_THROW(response.SetContentType("text/html\r\nX: y"), Error);
}

TEST(MapPathTest, MapsFromThePageFolderOrTheRoot) {
  EXPECT_EQ(MapVirtualPath("/srv/site", "/log/board", "."), "/srv/site/log");
  EXPECT_EQ(MapVirtualPath("/srv/site", "/log/board", "/"), "/srv/site");
  EXPECT_EQ(MapVirtualPath("/srv/site", "/log/board", "\\"), "/srv/site");
  EXPECT_EQ(MapVirtualPath("/srv/site", "/board", "."), "/srv/site");
  EXPECT_EQ(MapVirtualPath("/srv/site", "/log/board", "log/"), "/srv/site/log/log");
  EXPECT_EQ(MapVirtualPath("/srv/site", "/log/board", "../img\\a.gif"), "/srv/site/img/a.gif");
  EXPECT_EQ(MapVirtualPath("/srv/site", "/log/board", "/data/x.mdb"), "/srv/site/data/x.mdb");
  EXPECT_EQ(MapVirtualPath("/", "/log/board", "."), "/log");
  EXPECT_EQ(MapVirtualPath("/", "/log/board", "/"), "/");
  EXPECT_THROW(MapVirtualPath("/srv/site", "/log/board", "../.."), Error);
}

TEST(PageSessionTest, CreatedAtFirstWriteAndAbandonedAtTheEnd) {
  SessionStore store(10, 20);
  {
    PageSession session(store, "");
    EXPECT_EQ(session.Value("username"), "");
    EXPECT_EQ(session.Finish(), std::nullopt);
  }
  EXPECT_EQ(store.size(), 0u);

  std::string id;
  {
    PageSession session(store, "TSESSIONID=0123456789abcdef0123456789abcdef");  // not ours
    session.SetValue("username", "admin");
    std::string cookie = session.Finish().value_or("");
    ASSERT_EQ(store.size(), 1u);
    id = cookie.substr(cookie.find('=') + 1, 32);
    EXPECT_EQ(cookie, "TSESSIONID=" + id + "; Path=/; HttpOnly; SameSite=Strict");
  }

  {
    PageSession session(store, "a=b; TSESSIONID=" + id);
    EXPECT_EQ(session.Value("username"), "admin");
    session.Abandon();
    session.SetValue("username", "still");  // usable until the request ends
    EXPECT_EQ(session.Value("username"), "still");
    EXPECT_THROW(session.SetTimeout(0), Error);
    EXPECT_EQ(session.Finish(), "TSESSIONID=; Max-Age=0; Path=/; HttpOnly; SameSite=Strict");
  }
  EXPECT_EQ(store.size(), 0u);
}

}  // namespace
}  // namespace tessaly::server
