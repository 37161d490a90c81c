// What a request carries (its url-encoded texts, who sent it), the host objects a page sees,
// the session store behind them, and a page run with the head it writes.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "base/errors.h"
#include "server/client_address.h"
#include "server/host_objects.h"
#include "server/page_run.h"
#include "server/request_origin.h"
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
  // Connections are counted per IPv4 address, per IPv6 /64 network.
  EXPECT_EQ(AddressGroup("192.0.2.7"), "192.0.2.7");
  EXPECT_EQ(AddressGroup("2001:db8:1:2:aaaa::1"), "2001:db8:1:2::/64");
  EXPECT_EQ(AddressGroup("2001:db8:1:2:bbbb:1:2:3"), "2001:db8:1:2::/64");
  EXPECT_EQ(AddressGroup("::1"), "::/64");
}

TEST(RequestTargetTest, OriginAndAbsoluteFormsAndNothingElse) {
  const auto parts = [](std::string_view target) {
    const auto split = SplitRequestTarget(target);
    if (!split) return std::string("refused");
    return std::string(split->authority) + " " + std::string(split->path) + " " +
           std::string(split->query);
  };
  EXPECT_EQ(parts("/log/board?action=list"), " /log/board action=list");
  EXPECT_EQ(parts("/a?"), " /a ");
  EXPECT_EQ(parts("http://example.org:8080/log/board?x=1"), "example.org:8080 /log/board x=1");
  EXPECT_EQ(parts("HTTPS://[2001:db8::1]"), "[2001:db8::1] / ");
  EXPECT_EQ(parts("http://h?q"), "h / q");
  for (const char* bad : {"", "log/board", "*", "example.org:80", "ftp://h/x", "http:/h/x",
                          "http:///x", "http://user@h/x", "http://h\\x/", "http://h\"/"}) {
    EXPECT_EQ(parts(bad), "refused") << bad;
  }
}

// The scheme and host are a proxy's word only when the settings trust it; the browser's word on
// who made a request is Sec-Fetch-Site, else Origin, else Referer, and a tool says nothing.
TEST(RequestOriginTest, OwnOriginFromTheHostOrATrustedProxyAndWhoMadeTheRequest) {
  const std::vector<std::string> proxies = {"127.0.0.1"};
  EXPECT_TRUE(IsTrustedProxy("::ffff:127.0.0.1", proxies));
  EXPECT_FALSE(IsTrustedProxy("127.0.0.2", proxies));
  OwnOrigin own = RequestOrigin("127.0.0.1:18083", false, "https", "evil.example");
  EXPECT_FALSE(own.https);
  EXPECT_EQ(own.host, "127.0.0.1:18083");
  own = RequestOrigin("backend:8080", true, "http, HTTPS", "a.example, Site.example");
  EXPECT_TRUE(own.https);
  EXPECT_EQ(own.host, "Site.example");
  EXPECT_FALSE(RequestOrigin("backend", true, "", "").https);

  const OwnOrigin plain{false, "127.0.0.1:18083"};
  // Sec-Fetch-Site decides alone when it is sent.
  for (const char* site : {"same-origin", "none"}) {
    EXPECT_FALSE(FromOtherOrigin(site, "http://127.0.0.1:18090", "", plain)) << site;
  }
  for (const char* site : {"same-site", "cross-site", "whatever"}) {
    EXPECT_TRUE(FromOtherOrigin(site, "http://127.0.0.1:18083", "", plain)) << site;
  }
  // Then the Origin header, then the Referer: scheme, host and port must all be the request's.
  EXPECT_FALSE(FromOtherOrigin("", "", "", plain));
  EXPECT_FALSE(FromOtherOrigin("", "HTTP://127.0.0.1:18083", "", plain));
  EXPECT_FALSE(FromOtherOrigin("", "", "http://127.0.0.1:18083/log/board?action=list", plain));
  for (const char* origin :
       {"http://127.0.0.1:18090", "https://127.0.0.1:18083", "http://127.0.0.2:18083", "null",
        "http://127.0.0.1", "http://x@127.0.0.1:18083", "127.0.0.1:18083",
        "ftp://127.0.0.1:18083"}) {
    EXPECT_TRUE(FromOtherOrigin("", origin, "", plain)) << origin;
    EXPECT_TRUE(FromOtherOrigin("", "", std::string(origin) + "/log/board", plain)) << origin;
  }
  EXPECT_TRUE(FromOtherOrigin("", "http://127.0.0.1:18090", "http://127.0.0.1:18083/", plain));
  // A port left out is the scheme's own, on either side.
  const OwnOrigin https{true, "Site.Example"};
  EXPECT_FALSE(FromOtherOrigin("", "https://site.example:443", "", https));
  EXPECT_FALSE(FromOtherOrigin("", "", "https://site.example/log/board", https));
  EXPECT_TRUE(FromOtherOrigin("", "http://site.example", "", https));
  EXPECT_FALSE(FromOtherOrigin("", "http://[::1]:80", "", OwnOrigin{false, "[::1]"}));
  EXPECT_TRUE(FromOtherOrigin("", "http://[::1]:80", "", OwnOrigin{false, ""}));
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

// A visitor who is only shown the first page of the lists costs the store nothing: the cookie
// carries that page, and a session started later begins with it.
TEST(PageSessionTest, TheFirstPageAloneIsKeptWithoutAStoredSession) {
  SessionStore store(10, 20);
  SessionIds ids;
  std::string cookie;
  {
    PageSession session(store, ids, "");
    EXPECT_EQ(session.Value(host::kPageItem), "");
    session.SetValue(host::kPageItem, "1");
    EXPECT_EQ(session.Value(host::kPageItem), "1");
    cookie = session.Finish().value_or("");
  }
  EXPECT_EQ(cookie, "TSESSIONID=first-page; Path=/; HttpOnly; SameSite=Strict");
  EXPECT_EQ(store.size(), 0u);
  {
    PageSession again(store, ids, "TSESSIONID=first-page");
    EXPECT_EQ(again.Value(host::kPageItem), "1");  // so that "next" shows the second page
    EXPECT_EQ(again.Value("username"), "");
    again.SetValue(host::kPageItem, "1");
    EXPECT_EQ(again.Finish(), std::nullopt);  // it holds the mark already
  }
  EXPECT_EQ(store.size(), 0u);
  PageSession next(store, ids, "TSESSIONID=first-page");
  next.SetValue("other", "x");
  cookie = next.Finish().value_or("");
  const std::string id = cookie.substr(cookie.find('=') + 1, 32);
  EXPECT_EQ(store.Value(id, host::kPageItem), "1");
  EXPECT_EQ(store.Value(id, "other"), "x");

  // Abandoned, the mark goes too.
  PageSession ended(store, ids, "TSESSIONID=first-page");
  ended.Abandon();
  EXPECT_EQ(ended.Finish(), "TSESSIONID=; Max-Age=0; Path=/; HttpOnly; SameSite=Strict");
}

// A logon never keeps an id that was known before it, from the cookie or the mark; over HTTPS
// the cookie says so.
TEST(PageSessionTest, ALogonIssuesANewIdAndOverHttpsTheCookieIsSecure) {
  SessionStore store(10, 20);
  SessionIds ids;
  const std::string planted = store.Create(ids);
  store.SetValue(planted, "tPage", "3");
  store.SetTimeout(planted, 120);
  PageSession session(store, ids, "TSESSIONID=" + planted, true);
  session.LogOn("admin");
  session.SetValue("username", "admin");
  const std::string cookie = session.Finish().value_or("");
  const std::string id = cookie.substr(cookie.find('=') + 1, 32);
  EXPECT_NE(id, planted);
  EXPECT_EQ(cookie, "TSESSIONID=" + id + "; Path=/; HttpOnly; SameSite=Strict; Secure");
  EXPECT_FALSE(store.Touch(planted));
  EXPECT_EQ(store.Value(id, "tPage"), "3");
  EXPECT_EQ(store.Value(id, "username"), "admin");

  PageSession marked(store, ids, "TSESSIONID=first-page");
  marked.LogOn("admin");
  const std::string other = marked.Finish().value_or("").substr(11, 32);
  EXPECT_EQ(store.Value(other, "tPage"), "1");
  // A password change ends the account's other sessions.
  PageSession changing(store, ids, "TSESSIONID=" + id);
  changing.EndOtherSessions("admin");
  EXPECT_EQ(changing.Finish(), std::nullopt);
  EXPECT_TRUE(store.Touch(id));
  EXPECT_FALSE(store.Touch(other));
}

// Time passes when a test says so.
class SessionStoreTest : public ::testing::Test {
 protected:
  std::chrono::steady_clock::time_point now_{std::chrono::hours(1000)};
  const SessionStore::Clock clock_ = [this] { return now_; };
  SessionIds ids_;
};

// A logon moves the time-out to the new id with the items.
TEST_F(SessionStoreTest, KeepsItemsUntilTheTimeOutSinceLastUseAcrossALogon) {
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

  const std::string visitor = store.Create(ids_);
  store.SetTimeout(visitor, 120);
  const std::string admin = store.Renew(ids_, visitor, "admin");
  now_ += minutes(100);
  EXPECT_TRUE(store.Touch(admin));
}

// Which session goes first when none has expired is held against the model below.
TEST_F(SessionStoreTest, WhenFullDropsAnExpiredSessionBeforeTheLeastRecentlyUsed) {
  SessionStore store(2, 20, clock_);
  const std::string a = store.Create(ids_), b = store.Create(ids_);
  store.SetTimeout(b, 1);  // in a queue of time-outs of its own
  now_ += minutes(2);      // b has expired; a, used least recently, has not
  store.Create(ids_);
  EXPECT_TRUE(store.Touch(a));
  EXPECT_EQ(store.size(), 2u);
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

// The store against a naive model: two budgets, each a list of ids, most recently used first,
// of which the last goes when a new session would pass the budget. Time stands still, so
// nothing expires.
TEST_F(SessionStoreTest, BudgetsAgreeWithANaiveModel) {
  constexpr std::size_t kVisitors = 5, kAccounts = 3;
  SessionStore store(kVisitors, 20, clock_, kAccounts);
  struct Session {
    std::string id, account;
  };
  std::vector<Session> model;  // most recently used first
  const auto find = [&model](const std::string& id) {
    return std::find_if(model.begin(), model.end(), [&id](const Session& s) { return s.id == id; });
  };
  const auto use = [&](const std::string& id) {
    auto it = find(id);
    if (it == model.end()) return false;
    std::rotate(model.begin(), it, std::next(it));
    return true;
  };
  const auto make_room = [&](bool account) {
    std::size_t held = 0;
    for (const Session& s : model) held += s.account.empty() != account;
    if (held < (account ? kAccounts : kVisitors)) return;
    for (auto it = model.rbegin(); it != model.rend(); ++it) {
      if (it->account.empty() != account) {
        model.erase(std::next(it).base());
        return;
      }
    }
  };
  std::vector<std::string> ids;  // every id ever issued, live or not
  std::uint32_t random = 12345;
  const auto next = [&random](std::uint32_t bound) {
    random = random * 1103515245 + 12345;
    return (random >> 16) % bound;
  };
  const std::string accounts[] = {"a", "b"};
  for (int step = 0; step < 3000; ++step) {
    const std::string some = ids.empty() ? std::string() : ids[next(ids.size())];
    switch (next(5)) {
      case 0: {
        make_room(false);
        ids.push_back(store.Create(ids_));
        model.insert(model.begin(), {ids.back(), ""});
        break;
      }
      case 1: {
        const std::string& account = accounts[next(2)];
        if (auto it = find(some); it != model.end()) model.erase(it);
        make_room(true);
        ids.push_back(store.Renew(ids_, some, account));
        model.insert(model.begin(), {ids.back(), account});
        break;
      }
      case 2: {
        const std::string& account = accounts[next(2)];
        store.EndAccount(account, some);
        std::erase_if(model,
                      [&](const Session& s) { return s.account == account && s.id != some; });
        break;
      }
      default:
        ASSERT_EQ(store.Touch(some), use(some)) << step;
    }
    ASSERT_EQ(store.size(), model.size()) << step;
  }
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

// Whether an answer may be kept by shared caches is decided by what the run did, not by what
// the page claims: a tagged answer is shared unless the session, a cookie item, a new cookie or
// a method other than GET made it the visitor's own.
TEST(PageRunTest, ATaggedAnswerIsSharedUnlessTheRunMadeItTheVisitors) {
  SessionStore sessions(10, 20);
  const PageConfig page;
  const auto cache_control = [&](std::string_view method, std::string_view cookie,
                                 const PageHandler& handler) {
    RequestLine line;
    line.method = method;
    line.script_name = page.path;
    http::fields headers;
    if (!cookie.empty()) headers.set(http::field::cookie, cookie);
    SessionIds ids;
    const PageHost host{handler, sessions, "/srv/site", ids, "max-age=0, s-maxage=1"};
    ResponseHead head;
    std::string body, text;
    WriteHead(head, "D", RunPage(host, page, line, headers, {}, head, body), true, 11, text);
    const std::size_t at = text.find("Cache-Control: ");
    return at == std::string::npos ? text : text.substr(at + 15, text.find("\r\n", at) - at - 15);
  };
  using Context = host::ScriptingContext;
  const struct {
    std::string_view method, cookie;
    bool tagged;
    std::function<void(Context&)> also;  // what the page does besides writing "page"
    std::string_view cache_control;
  } cases[] = {
      {"GET", "", true, [](Context&) {}, "max-age=0, s-maxage=1"},
      {"HEAD", "TSESSIONID=x; id=3", true, [](Context& c) { c.request.Item("action"); },
       "max-age=0, s-maxage=1"},  // an item from no cookie
      {"POST", "", true, [](Context&) {}, "private, no-cache"},
      {"GET", "", true, [](Context& c) { c.session.Value("tPage"); }, "private, no-cache"},
      {"GET", "id=3", true, [](Context& c) { c.request.Item("id"); }, "private, no-cache"},
      // The first page: a cookie, no session.
      {"GET", "", true,
       [](Context& c) {
         c.response.SetStatus(304);
         c.session.SetValue("tPage", "1");
       },
       "private, no-cache"},
      {"GET", "", false, [](Context&) {}, "private"},
      {"GET", "", true, [](Context&) { throw std::runtime_error("failed"); }, "private"},
  };
  for (const auto& c : cases) {
    const auto handler = [&c](Context& context, const PageConfig&) {
      if (c.tagged) context.response.AddHeader("etag", "\"1\"");
      c.also(context);
      context.response.Write("page");
    };
    EXPECT_EQ(cache_control(c.method, c.cookie, handler), c.cache_control)
        << c.method << " " << c.cookie << " case " << (&c - cases);
  }
}

}  // namespace
}  // namespace tessaly::server
