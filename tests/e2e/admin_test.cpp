// The administration over HTTP as a browser with a cookie jar uses it. What only the whole
// program holds (the dispatch, the guards and their order, the session behind the pages) is
// here; the pages' own cases are in tests/admin and tests/images, the session store's and the
// request headers' in tests/server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>

#include "e2e/harness.h"
#include "images/pictures.h"
#include "support/golden.h"

namespace tessaly::e2e {
namespace {

std::string Count(const Site& site, const std::string& where = "TRUE") {
  return support::Sql(site.database(), "SELECT count(*) FROM MESSAGE WHERE " + where);
}

// The guards come in order: the dispatch is exact, then the logon, then a real post; a plain
// link to a post ends the session. Adding refuses a repeat of the newest entry only;
// an unchanged save of the edit form stores the same HTML; deleting takes only a list of whole
// numbers (its parsing is pinned in tests/pages); an entry is stamped with the server's local
// time to the millisecond, whichever database keeps it.
TEST(AdminPagesTest, GuardsInOrderThenAddEditDeleteAndTheTimeStamp) {
  Site site;
  support::FillEntries(site.database(), 2);
  ::setenv("TZ", "Asia/Shanghai", 1);  // UTC+8 all year; the server started below inherits it
  const Server server(site);
  ::unsetenv("TZ");
  support::ExpectGolden(server.Get(AdminPage("login")).body, "admin_login_form.html");
  for (const std::string query : {"&do=Add", "&do=%20add", "&do=", "&do=add&do=add", ""}) {
    EXPECT_TRUE(IsLoginForm(server.Get("/log/board?action=admin" + query).body)) << query;
  }
  EXPECT_TRUE(Has(server.Get(AdminPage("add")).body, "增加日志"));
  EXPECT_TRUE(IsLoginForm(Visitor(server).Post(AdminPage("dodel"), "id=1").body));
  EXPECT_EQ(Count(site), "2");

  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(admin.LogOn()));
  // Not a real post, whatever items claim the method.
  for (const std::string& target :
       {AdminPage("logon"), AdminPage("dodel&id=1&REQUEST_METHOD=POST"),
        AdminPage("update&id=1&title=x&content=y"), AdminPage("doedit&id=1")}) {
    EXPECT_TRUE(Has(admin.Get(target).body, "非法调试")) << target;
  }
  EXPECT_EQ(Count(site, "TITLE <> 'x'"), "2");
  EXPECT_TRUE(Has(admin.Post(AdminPage("dodel&REQUEST_METHOD=GET"), "id=1").body, "成功删除日志"));
  EXPECT_EQ(Count(site), "1");
  Visitor stale = admin;
  EXPECT_TRUE(Has(admin.Get(AdminPage("doadd&title=t&content=c")).body, "非法调试"));
  EXPECT_EQ(admin.cookie, "");
  EXPECT_TRUE(IsLoginForm(stale.Post(AdminPage("doadd"), "title=t&content=c").body));
  EXPECT_EQ(Count(site), "1");

  ASSERT_TRUE(IsControlPanel(admin.LogOn()));
  const auto add = [&](const std::string& title, const std::string& content) {
    return admin.Post(AdminPage("doadd"), Form({{"title", title}, {"content", content}})).body;
  };
  const std::string markup = "[b]bold[/b] [c blue]and[/c] [s]small[/s]\r\nnext line";
  const std::time_t before = std::time(nullptr);
  EXPECT_TRUE(Has(add("A", markup), "成功增加日志"));  // 3
  EXPECT_TRUE(Has(add("A", markup), "该日志已存在"));
  EXPECT_TRUE(Has(add("B", "b"), "成功增加日志"));            // 4
  EXPECT_TRUE(Has(add("A", "[b]a[/b]"), "成功增加日志"));     // 5
  EXPECT_TRUE(Has(add(" A  ", "[b]a[/b]"), "成功增加日志"));  // 6
  EXPECT_EQ(Count(site, "TITLE = '&nbsp;A&nbsp;&nbsp;' AND CONTENT = '<b>a</b>' AND ID = 6"), "1");

  const std::string stime = support::Sql(site.database(), "SELECT STIME FROM MESSAGE WHERE ID = 3");
  ASSERT_EQ(stime.size(), 23u) << stime;  // YYYY-MM-DD HH:MM:SS.fff
  std::tm local{};
  ASSERT_NE(::strptime(stime.substr(0, 19).c_str(), "%Y-%m-%d %H:%M:%S", &local), nullptr);
  EXPECT_LE(std::abs(static_cast<long>(::timegm(&local) - 8 * 3600 - before)), 5L) << stime;

  const auto content = [&] {
    return support::Sql(site.database(), "SELECT CONTENT FROM MESSAGE WHERE ID = 3");
  };
  const std::string stored = content();
  EXPECT_TRUE(Has(admin.Post(AdminPage("doedit"), "id=3").body, ">" + markup + "</textarea>"));
  EXPECT_TRUE(
      Has(admin.Post(AdminPage("update&id=3"), Form({{"title", "A"}, {"content", markup}})).body,
          "location.href='/log/board?action=admin&do=edit'"));
  EXPECT_EQ(content(), stored);
  EXPECT_TRUE(Has(admin.Post(AdminPage("doedit"), "id=3%20or%201=1").body, "非法调试"));

  const auto remove = [&](const std::string& body) {
    return admin.Post(AdminPage("dodel"), body).body;
  };
  for (const std::string refused : {"id=4)%20or%20(1=1", "id=4&id="}) {
    EXPECT_TRUE(Has(remove(refused), "非法调试")) << refused;
  }
  EXPECT_TRUE(IsControlPanel(remove("id=%20")));
  EXPECT_EQ(Count(site), "5");
  // Checked boxes come as "4, 5, 99".
  EXPECT_TRUE(Has(remove("id=4&id=5&id=99"), "'/log/board?action=admin&do=control'"));
  EXPECT_EQ(Count(site, "ID IN (2, 3, 6)"), "3");
  EXPECT_EQ(Count(site), "3");
  EXPECT_TRUE(Has(admin.Post(AdminPage("doedit"), "id=4").body, "该则日志不存"));
}

std::string StoredPassword(const Site& site, const std::string& name) {
  return support::Sql(site.database(), "SELECT PASSWORD FROM USERTB WHERE USERNAME = ?", {name});
}

// Names and passwords are matched exactly and stored as hashes, a changed password holds at
// once, and five failures shut out one client address only, unless a success comes first. The
// hashes and the guard's clock are in tests/admin.
TEST(AdminLogonTest, ExactMatchesHashesPasswordChangeAndTheShutOut) {
  Site site;
  ASSERT_EQ(RunTessaly(site.Command("init", {"--user", "o'brien", "--password", "it's"})).status,
            0);
  support::Sql(site.database(), "INSERT INTO USERTB (USERNAME, PASSWORD) VALUES ('hand', 'made')");
  EXPECT_TRUE(StoredPassword(site, "o'brien").starts_with("$argon2id$"));
  const Server server(site);
  Visitor visitor(server);
  for (const auto& [name, password] : {std::pair{"", "secret"}, {"admin", "   "}}) {
    EXPECT_TRUE(Has(visitor.LogOn(name, password), "请输入 账号 和 密码 ！"));
  }
  // Four wrong ones at most in a row: a fifth would shut this client out.
  for (const auto& [name, password] : {std::pair{"admin", "Secret"},
                                       {"admin ", "secret"},
                                       {"admin", "' or '1'='1"},
                                       {"' or '1'='1' --", "x"}}) {
    EXPECT_TRUE(IsWrongAccount(visitor.LogOn(name, password))) << name << "|" << password;
  }
  EXPECT_TRUE(IsLoginForm(visitor.Post(AdminPage("dodel"), "").body));  // logged on by none
  EXPECT_TRUE(IsControlPanel(visitor.LogOn("o'brien", "it's")));
  EXPECT_TRUE(IsControlPanel(visitor.Post(AdminPage("dodel"), "").body));
  // A row made by hand in clear is matched once, then holds a hash.
  EXPECT_TRUE(IsWrongAccount(visitor.LogOn("hand", "Made")));
  EXPECT_TRUE(IsControlPanel(visitor.LogOn("hand", "made")));
  EXPECT_TRUE(StoredPassword(site, "hand").starts_with("$argon2id$"));
  EXPECT_TRUE(IsControlPanel(visitor.LogOn("hand", "made")));

  EXPECT_TRUE(
      IsLoginForm(Visitor(server).Get(AdminPage("dopassword&password=x&chkpassword=x")).body));
  const auto change = [&](const std::string& password, const std::string& check) {
    return visitor
        .Post(AdminPage("dopassword"), Form({{"password", password}, {"chkpassword", check}}))
        .body;
  };
  Visitor other(server, "127.0.0.4");
  ASSERT_TRUE(IsControlPanel(other.LogOn("hand", "made")));
  EXPECT_TRUE(Has(change("new pw", "New pw"), "请核实 <b>密码</b> 和 <b>校验密码</b> 是否相同"));
  support::ExpectGolden(change("new pw ", "new pw"), "admin_password_changed.html");
  // The account's other sessions end; the changing one stays logged on.
  EXPECT_TRUE(IsLoginForm(other.Post(AdminPage("dodel"), "").body));
  EXPECT_TRUE(IsControlPanel(visitor.Post(AdminPage("dodel"), "").body));
  EXPECT_TRUE(IsWrongAccount(other.LogOn("hand", "made")));
  EXPECT_TRUE(IsControlPanel(other.LogOn("hand", "new pw ")));
  // A plain link does it too.
  EXPECT_TRUE(Has(visitor.Get(AdminPage("dopassword&password=third&chkpassword=third")).body,
                  "密码已更新成功了！"));
  EXPECT_TRUE(IsControlPanel(other.LogOn("hand", "third")));

  Visitor guessing(server, "127.0.0.2");
  const std::string wrong = guessing.LogOn("hand", "guess");
  EXPECT_TRUE(IsWrongAccount(wrong));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(guessing.LogOn("hand", "guess"), wrong);
  EXPECT_EQ(guessing.LogOn("hand", "third"), wrong);  // shut out, unchecked
  EXPECT_TRUE(IsControlPanel(other.LogOn("hand", "third")));
}

// A page of another port of this host is the same site to the browser, which sends it the
// session cookie: whether by Fetch Metadata, Origin or Referer, its requests change nothing,
// while the site's own pages and tools that say nothing go on working. Which values of those
// headers name another origin is pinned in tests/server, each page's refusal in tests/admin.
TEST(AdminSessionTest, APageOfAnotherOriginChangesNothing) {
  Site site;
  const Server server(site);
  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(admin.LogOn()));
  const std::string own = "http://127.0.0.1:" + std::to_string(server.port());
  const std::string other = "http://127.0.0.1:" + std::to_string(server.port() + 1);
  const std::string password = StoredPassword(site, "admin");
  // What the browser sends for the administrator when a page with the `from` headers asks it to.
  const auto send = [&](const std::string& request_line, const std::string& from,
                        const std::string& body = {}) {
    return Fetch(server.port(),
                 request_line + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                     "\r\nCookie: " + admin.cookie + "\r\n" + from +
                     "Content-Type: application/x-www-form-urlencoded\r\n"
                     "Content-Length: " +
                     std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body)
        .body;
  };
  const auto add = [&](const std::string& from) {
    return send("POST " + AdminPage("doadd"), from,
                Form({{"title", "t" + std::to_string(from.size())}, {"content", "c"}}));
  };
  for (const std::string& from :
       {std::string("Sec-Fetch-Site: same-site\r\n"), "Origin: " + other + "\r\n",
        "Referer: " + other + "/hostile.html\r\n"}) {
    EXPECT_TRUE(
        Has(send("GET " + AdminPage("dopassword&password=hacked1&chkpassword=hacked1"), from),
            "非法调试"))
        << from;
    EXPECT_TRUE(Has(add(from), "非法调试")) << from;
  }
  EXPECT_EQ(StoredPassword(site, "admin"), password);
  EXPECT_EQ(Count(site), "0");
  for (const std::string& from : {"Origin: " + own + "\r\n", std::string()}) {
    EXPECT_TRUE(Has(add(from), "成功增加日志")) << from;
  }
  EXPECT_EQ(Count(site), "2");
}

// A session id known before the logon (here one planted in the administrator's browser) never
// holds the logon. Readers who stay on the first page are kept by their cookie alone, and those
// who page on, however many, cannot crowd out a logged-on session. Behind a trusted proxy that
// the visitor reached over HTTPS, the cookie is sent back that way only.
TEST(AdminSessionTest, ALogonIsANewSessionThatAFloodOfVisitorsNeverEnds) {
  Site site;
  support::FillEntries(site.database(), 60);
  const std::string config = (site.root() / "small.toml").string();
  std::ofstream(config) << "trusted_proxies = [\"127.0.0.1\"]\n[limits]\nmax_sessions = 5\n";
  const Server server(site, {"--config", config});
  Visitor planted(server);
  planted.Get(AdminPage("add"));  // a form that anybody is shown starts a session
  ASSERT_EQ(planted.cookie.size(), 43u) << planted.cookie;
  Visitor admin = planted;
  ASSERT_TRUE(IsControlPanel(admin.LogOn()));
  EXPECT_NE(admin.cookie, planted.cookie);
  EXPECT_TRUE(IsLoginForm(planted.Post(AdminPage("dodel"), "id=").body));

  EXPECT_EQ(server.Get("/log/board?action=list").Header("set-cookie"),
            "TSESSIONID=first-page; Path=/; HttpOnly; SameSite=Strict");
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(Has(server.Get("/log/board?action=list&move=last").body, ">3/3<"));
  }
  EXPECT_TRUE(IsControlPanel(admin.Post(AdminPage("dodel"), "id=").body));

  const std::string https =
      GetRequest("/log/board?action=list&move=last", "X-Forwarded-Proto: https\r\n");
  EXPECT_TRUE(Has(Fetch(server.port(), https).Header("set-cookie"), "; SameSite=Strict; Secure"));
  EXPECT_FALSE(Has(Fetch(server.port(), https, "127.0.0.2").Header("set-cookie"), "Secure"));
}

// A picture uploaded as a browser sends the form, served with the headers a browser relies on,
// shown in an entry with [img name], and deleted by the check boxes of the pictures' list.
TEST(PicturesTest, UploadServeShowInAnEntryAndDelete) {
  Site site;
  const Server server(site);
  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(admin.LogOn()));
  // A file whose bytes hold a blank line and a line like the delimiter, sent with a client
  // path as old browsers do.
  support::FormUpload upload;
  upload.file_name = "C:\\pictures\\logo.gif";
  upload.bytes = "GIF89a\r\n\r\n--" + upload.boundary + std::string("\r\n\0\xff", 4);
  HttpResponse r = admin.Post(AdminPage("image&for=doupload"), upload.Body(), upload.ContentType());
  ASSERT_TRUE(Has(r.body, "图片上传成功")) << r.body;

  const std::string target = "/log/board?action=image&name=logo.gif";
  r = server.Get(target);
  EXPECT_EQ(r.body, upload.bytes);
  EXPECT_EQ(r.Header("content-type"), "image/gif");
  EXPECT_EQ(r.Header("x-content-type-options"), "nosniff");
  const std::string tag = r.Header("etag");
  ASSERT_FALSE(tag.empty());
  // A 304 and the answer to a HEAD carry no body, so the next answer on the connection starts
  // right after their heads.
  Connection c(server.port());
  c.Send("GET " + target + " HTTP/1.1\r\nHost: x\r\nIf-None-Match: " + tag + "\r\n\r\nHEAD " +
         target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(c.Read(true).status, 304);
  r = c.Read(true);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("content-length"), std::to_string(upload.bytes.size()));
  EXPECT_TRUE(c.ClosedByPeer());  // nothing but the head was sent

  r = admin.Post(AdminPage("doadd"), Form({{"title", "有图"}, {"content", "看[img logo.gif]"}}));
  ASSERT_TRUE(Has(r.body, "成功增加日志")) << r.body;
  EXPECT_TRUE(Has(server.Get("/log/board?action=show&id=1").body,
                  "看<img src=/log/board?action=image&name=logo.gif>"));

  const std::int64_t first = support::InsertPicture(site.database(), "p1.jpg", "image/jpeg", "x");
  const std::int64_t second = support::InsertPicture(site.database(), "p2.jpg", "image/jpeg", "x");
  r = admin.Post(AdminPage("image&for=delimage"),
                 Form({{"id", std::to_string(first)}, {"id", std::to_string(second)}}));
  EXPECT_TRUE(Has(r.body, "成功删除图片")) << r.body;
  EXPECT_EQ(support::Sql(site.database(),
                         "SELECT NAME FROM IMAGE WHERE (SELECT count(*) FROM IMAGE) = 1"),
            "logo.gif");
}

}  // namespace
}  // namespace tessaly::e2e
