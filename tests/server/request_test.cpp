// What a request carries (its url-encoded texts, who sent it), the host objects a page sees,
// the session store behind them, and a page run with the head it writes.
#include <gtest/gtest.h>

#include <set>

#include "base/errors.h"
#include "server/client_address.h"
#include "server/host_objects.h"
#include "server/page_run.h"
#include "server/session_store.h"
#include "server/url_encoding.h"

namespace tessaly::server {
namespace {

namespace http = boost::beast::http;
using std::chrono::minutes;

TEST(UrlEncodingTest, DecodesFindsItemsAndCookiesAndMasksPasswords) {
  EXPECT_EQ(PercentDecode("a%20b+c%2Bd%e6%97%a5", true), "a b c+d日");
  EXPECT_EQ(PercentDecode("a+b%2F", false), "a+b/");  // '+' is a space in forms only
  for (const char* bad : {"%", "%4", "%zz", "a%2", "%%41", "ok%g0"}) {
    EXPECT_FALSE(HasValidEscapes(bad)) << bad;
    EXPECT_FALSE(PercentDecode(bad, true)) << bad;
  }
  // Names are decoded and matched case-sensitively; repeats are joined.
  constexpr std::string_view kQuery = "action=list&id=1&a%63tion=show&empty=&bare&id=2+3&&a=1=2";
  EXPECT_EQ(FindFormItem(kQuery, "action"), "list, show");
  EXPECT_EQ(FindFormItem(kQuery, "id"), "1, 2 3");
  EXPECT_EQ(FindFormItem(kQuery, "bare"), "");
  EXPECT_EQ(FindFormItem(kQuery, "a"), "1=2");
  EXPECT_FALSE(FindFormItem(kQuery, "Action"));
  EXPECT_FALSE(FindFormItem(kQuery, "act"));
  constexpr std::string_view kCookies =
      "TSESSIONID=abc; action=list;other = \"q v\" ;action=a%20b; x";
  EXPECT_EQ(FindCookie(kCookies, "action"), "list, a b");
  EXPECT_EQ(FindCookie(kCookies, "other"), "q v");
  EXPECT_FALSE(FindCookie(kCookies, "x"));
  EXPECT_TRUE(IsFormContentType("Application/X-WWW-Form-Urlencoded; charset=UTF-8"));
  EXPECT_FALSE(IsFormContentType("application/x-www-form-urlencodedx"));
  // Values of password items never reach the log.
  EXPECT_EQ(MaskPasswords("/p?action=admin&pass%77ord=a%20b&chkpassword=&passwords=kept&password"),
            "/p?action=admin&pass%77ord=***&chkpassword=***&passwords=kept&password");
}

TEST(ClientAddressTest, ForwardedForIsBelievedOnlyFromTrustedProxies) {
  const std::vector<std::string> proxies = {"127.0.0.1", "10.0.0.2"};
  EXPECT_EQ(ClientAddress("127.0.0.1", "1.1.1.1, 198.51.100.4, 10.0.0.2", proxies), "198.51.100.4");
  EXPECT_EQ(ClientAddress("192.0.2.9", "198.51.100.4", proxies), "192.0.2.9");  // not a proxy
  EXPECT_EQ(ClientAddress("127.0.0.1", "junk, 198.51.100.4", proxies), "198.51.100.4");
  EXPECT_EQ(ClientAddress("127.0.0.1", "198.51.100.4, junk", proxies), "127.0.0.1");
  EXPECT_EQ(ClientAddress("::ffff:127.0.0.1", " 2001:DB8::1 ", proxies), "2001:db8::1");
  EXPECT_EQ(ClientAddress("127.0.0.1", "", proxies), "127.0.0.1");
}

// Items come from the query, then from the form, which only a url-encoded POST has, then from
// the cookies.
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
  SessionIds ids;
  std::string cookie;
  {
    PageSession session(store, ids, "TSESSIONID=0123456789abcdef0123456789abcdef");  // not ours
    EXPECT_EQ(session.Value("username"), "");
    EXPECT_EQ(store.size(), 0u);
    session.SetValue("username", "admin");
    cookie = session.Finish().value_or("");
  }
  const std::string id = cookie.substr(cookie.find('=') + 1, 32);
  EXPECT_NE(id, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(cookie, "TSESSIONID=" + id + "; Path=/; HttpOnly; SameSite=Strict");
  PageSession session(store, ids, "a=b; TSESSIONID=" + id);
  EXPECT_EQ(session.Value("username"), "admin");
  session.Abandon();
  session.SetValue("username", "still");  // usable until the request ends
  EXPECT_EQ(session.Value("username"), "still");
  EXPECT_THROW(session.SetTimeout(0), Error);
  EXPECT_EQ(session.Finish(), "TSESSIONID=; Max-Age=0; Path=/; HttpOnly; SameSite=Strict");
  EXPECT_EQ(store.size(), 0u);
}

// Time passes when a test says so.
class SessionStoreTest : public ::testing::Test {
 protected:
  std::chrono::steady_clock::time_point now_{std::chrono::hours(1000)};
  const SessionStore::Clock clock_ = [this] { return now_; };
  SessionIds ids_;
};

TEST_F(SessionStoreTest, KeepsItemsUntilTheTimeOutSinceLastUse) {
  SessionStore store(10, 20, clock_);
  const std::string id = store.Create(ids_);
  store.SetValue(id, "username", "admin");
  now_ += minutes(19);
  EXPECT_TRUE(store.Touch(id));  // use restarts the clock
  now_ += minutes(19);
  EXPECT_EQ(store.Value(id, "username"), "admin");
  now_ += minutes(20);
  EXPECT_EQ(store.Value(id, "username"), "");
  EXPECT_EQ(store.size(), 0u);
}

TEST_F(SessionStoreTest, WhenFullDropsExpiredThenLeastRecentlyUsed) {
  SessionStore store(3, 20, clock_);
  const std::string a = store.Create(ids_), b = store.Create(ids_), c = store.Create(ids_);
  store.SetTimeout(a, 1);
  EXPECT_TRUE(store.Touch(b));  // least recently used first: c, a, b
  now_ += minutes(2);           // a has expired
  store.SetTimeout(c, 60);      // now a, b, c, each time-out in a queue of its own
  const std::string d = store.Create(ids_);
  EXPECT_FALSE(store.Touch(a));
  const std::string e = store.Create(ids_);  // nothing expired: b, the least recently used, goes
  EXPECT_EQ(store.size(), 3u);
  EXPECT_FALSE(store.Touch(b));
  for (const std::string& kept : {c, d, e}) EXPECT_TRUE(store.Touch(kept));
}

// The cost of a call must not grow with the store: one call drops only a few of the sessions
// that have expired, and a session hidden behind a longer-lived one is still never served.
TEST_F(SessionStoreTest, SweepsExpiredSessionsAFewAtATime) {
  SessionStore store(1000, 20, clock_);
  const std::string longer = store.Create(ids_);
  store.SetTimeout(longer, 120);
  std::vector<std::string> ids;
  for (int i = 0; i < 999; ++i) ids.push_back(store.Create(ids_));
  EXPECT_EQ(std::set(ids.begin(), ids.end()).size(), 999u);  // ids are never handed out twice
  now_ += minutes(30);
  store.Create(ids_);
  EXPECT_GT(store.size(), 990u);
  EXPECT_EQ(store.Value(ids.front(), "x"), "");
  EXPECT_FALSE(store.Touch(ids.back()));
  EXPECT_TRUE(store.Touch(longer));
  for (int i = 0; i < 300; ++i) store.Create(ids_);
  EXPECT_LT(store.size(), 1000u);  // sweeping outpaces creation once the way is clear
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
  // client that keeps it, with the Date "D".
  const auto run = [&](const PageHandler& handler) {
    SessionIds ids;
    const PageHost host{handler, sessions, "/srv/site", ids};
    std::string text;
    WriteHead(head, "D", RunPage(host, default_page, line, {}, "raw", head, body), true, 10, text);
    return text;
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
  EXPECT_TRUE(body.starts_with("<p>before</p>") && body.size() > 13) << body;
  EXPECT_EQ(body.find("ContentType"), std::string::npos) << body;
  char date[32];
  EXPECT_EQ(HttpDate(784111777, date), "Sun, 06 Nov 1994 08:49:37 GMT");
}

}  // namespace
}  // namespace tessaly::server
