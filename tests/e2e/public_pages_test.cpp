// The pages every visitor sees: the hot news block, the paged log list and its pager.
#include <gtest/gtest.h>

#include <fstream>

#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

const std::string kFooter =
    "<p><a href='mailto:webmaster@localhost'><font style='color:#0000ff;font-size:12px'><b>";

std::string Head(const std::string& opening, const std::string& script) {
  return opening +
         "<font style='font-size:14px'>网站纪事：</font><Script Language=JavaScript>\r\n"
         "function openwin(id){\r\nwindow.open('" +
         script +
         "?action=show&id='+id,'','resizable=yes,scrollbars=yes,height=400,width=300');\r\n"
         "}</Script>\r\n<font style='font-size:12px'>";
}

std::string Row(int id, const std::string& when) {
  return "<li type='square'><a href='javascript:openwin(" + std::to_string(id) + ")'>t" +
         std::to_string(id) + "</a> <font color=#CA95FF>(" + when + ")</font></li>";
}

// Entry i (from 1) was added on day i of March 2026 at 10:i:05, so newer entries have higher ids.
void Fill(const std::string& database, int count) {
  for (int i = 1; i <= count; ++i) {
    char stime[32];
    std::snprintf(stime, sizeof stime, "2026-03-%02d 10:%02d:05.125", 1 + (i - 1) % 28, i % 60);
    std::string t = stime;
    if (i > 28) t.replace(5, 2, "04");  // keep days valid and times increasing
    if (i > 56) t.replace(5, 2, "05");
    testing::InsertEntry(database, "t" + std::to_string(i), "c", t);
  }
}

std::string When(int i, bool date_only) {
  const int month = i > 56 ? 5 : i > 28 ? 4 : 3;
  std::string date = "2026/" + std::to_string(month) + "/" + std::to_string(1 + (i - 1) % 28);
  if (date_only) return date;
  char time[16];
  std::snprintf(time, sizeof time, " 10:%02d:05", i % 60);
  return date + time;
}

std::string HotNews(const std::string& script, int shown, int total) {
  std::string out = Head("<div>", script);
  for (int i = total; i > total - shown && i >= 1; --i) out += Row(i, When(i, true));
  if (total > shown) {
    out += "<br><br><a target=_blank href=" + script +
           "?action=list><font color=#ff0000>更多的网站日志...</font></a>";
  }
  return out + "</font></div>";
}

std::string ListRows(int total, int page) {
  std::string out;
  for (int k = 0; k < 25; ++k) {
    const int i = total - (page - 1) * 25 - k;
    if (i < 1) break;
    out += Row(i, When(i, false));
  }
  return out;
}

std::string Pager(const std::string& base, const std::string& indicator) {
  return "<br><center><input type=button value='|<< ' onclick=javascript:location.href='" + base +
         "move=first' style='color: #0000FF; font-family: Symbol'><input type=button value='  <  ' "
         "onclick=javascript:location.href='" +
         base +
         "move=previous' style='color: #0000FF; font-family: Symbol'><input type=button "
         "value='  >  ' onclick=javascript:location.href='" +
         base +
         "move=next' style='color: #0000FF; font-family: Symbol'><input type=button value=' >>|' "
         "onclick=javascript:location.href='" +
         base +
         "move=last' style='color: #0000FF; font-family: Symbol'></center><div "
         "style=color:#ff0000;margin-left:520px;margin-top:-18px>" +
         indicator + "</div><p>";
}

// A visitor that keeps its session cookie.
class Visitor {
 public:
  explicit Visitor(Server& server) : server_(server) {}
  HttpResponse Get(const std::string& target) {
    HttpResponse r = server_.Get(target, cookie_.empty() ? "" : "Cookie: " + cookie_ + "\r\n");
    const std::string set = r.Header("set-cookie");
    if (!set.empty()) cookie_ = set.substr(0, set.find(';'));
    return r;
  }
  const std::string& cookie() const { return cookie_; }

 private:
  Server& server_;
  std::string cookie_;
};

TEST(PublicPagesTest, EmptyTableMessages) {
  Site site;
  Server server({"--root", site.root().string()});
  EXPECT_EQ(server.Get("/log/board").body, "没有日志");
  EXPECT_EQ(server.Get("/log/board?action=hotnews").body, "没有日志");
  EXPECT_EQ(server.Get("/log/board?action=list").body,
            "<table border='0' width='100%' height='100%' cellspacing='0' cellpadding='0'><tr><td "
            "width='100%' align='center'><table border='1' width='300' cellspacing='0'><tr><td "
            "width='100%' bgcolor='#000080'><font color=#ffffff>缺少资料</font></td></tr><tr><td "
            "width='100%' bgcolor='#C0C0C0' style='font-size: 14px'><p align='center'><br>"
            "没有网站日志<br><br><input type='button' value=' 关  闭 ' name='B1' "
            "onclick='javascript:window.close()' style='font-size: 12px'><br><br></td></tr>"
            "</table></td></tr></table>");
}

TEST(PublicPagesTest, HotNewsShowsTheNewestEntries) {
  Site site;
  Fill(site.database(), 12);
  struct Case {
    std::string hot_news;
    int shown;
  } cases[] = {{"0", 0}, {"5", 5}, {"12", 12}, {"40", 12}, {"-3", 0}, {"2.5", 2}};
  for (const Case& c : cases) {
    Server server({"--root", site.root().string(), "--hot-news", c.hot_news});
    EXPECT_EQ(server.Get("/log/board?action=hotnews").body, HotNews("/log/board", c.shown, 12))
        << "hot news " << c.hot_news;
    // No action, an unknown one and the action in capitals all give the block.
    EXPECT_EQ(server.Get("/log/board?action=HOTNEWS").body, HotNews("/log/board", c.shown, 12));
  }
}

TEST(PublicPagesTest, HotNewsLinkBaseFollowsWhereThePageIs) {
  Site site;
  Fill(site.database(), 2);
  {
    // The page at the site's root, the database in "log": links into the log folder.
    Server server({"--root", site.root().string(), "--page", "/board", "--web-path", "log"});
    EXPECT_EQ(server.Get("/board").body, HotNews("log/board", 2, 2));
  }
  {
    // No WebPath: the database beside the page, links from the site's root.
    Server server({"--root", site.root().string(), "--web-path", ""});
    EXPECT_EQ(server.Get("/log/board").body, HotNews("/board", 2, 2));
  }
  {
    // The folder named with other capitals than the page's path does not count as inside.
    std::filesystem::create_directories(site.root() / "Log");
    std::filesystem::copy_file(site.database(), site.root() / "Log" / "logs.mdb");
    Server server({"--root", site.root().string(), "--web-path", "Log"});
    EXPECT_EQ(server.Get("/log/board").body, HotNews("Log/board", 2, 2));
  }
}

TEST(PublicPagesTest, ListPagesAndMoves) {
  for (int total : {25, 26, 60}) {
    Site site;
    Fill(site.database(), total);
    Server server({"--root", site.root().string()});
    Visitor visitor(server);
    const int pages = (total + 24) / 25;
    auto expect_page = [&](const std::string& query, int page) {
      HttpResponse r = visitor.Get("/log/board?" + query);
      std::string expected = Head("<div style='background-color:#F7EEFF'>", "/log/board") +
                             "<style>\r\nA:hover {color: #FF0000; text-decoration: underline}"
                             "\r\nA {text-decoration: none}\r\n</style>" +
                             ListRows(total, page) + "</font></div><br>";
      ASSERT_TRUE(r.body.starts_with(expected)) << total << " " << query << "\n" << r.body;
      const std::string rest = r.body.substr(expected.size());
      if (pages == 1) {
        EXPECT_TRUE(rest.starts_with(kFooter)) << rest;
      } else {
        std::string base = "/log/board?" + query;
        for (const char* m : {"move=first", "move=previous", "move=next", "move=last"}) {
          for (std::size_t at; (at = base.find(m)) != std::string::npos;) base.erase(at, strlen(m));
        }
        if (base.back() != '&' && base.back() != '?') base += '&';
        EXPECT_TRUE(rest.starts_with(
            Pager(base, std::to_string(page) + "/" + std::to_string(pages)) + kFooter))
            << total << " " << query << "\n"
            << rest;
      }
    };
    expect_page("action=list", 1);
    expect_page("action=list&move=next", std::min(2, pages));
    expect_page("action=list&move=next", std::min(3, pages));
    expect_page("action=list&move=next", std::min(3, pages));  // clamped at the end
    expect_page("action=list&move=last", pages);
    expect_page("action=list&move=previous", std::max(pages - 1, 1));
    expect_page("action=list&move=first", 1);
    expect_page("action=list&move=previous", 1);  // clamped at the start
    expect_page("move=last&action=list", pages);
    expect_page("action=list&move=Next", 1);  // other capitals are no move
    expect_page("action=list&move=last&", pages);
  }
}

TEST(PublicPagesTest, PageIsSharedBetweenListsOfOneSession) {
  Site site;
  Fill(site.database(), 60);
  const std::string config = (site.root() / "two.toml").string();
  std::ofstream(config) << "[[page]]\npath = \"/log/board\"\nweb_path = \"log\"\n"
                           "[[page]]\npath = \"/log/other\"\nweb_path = \"log\"\n";
  Server server({"--root", site.root().string(), "--config", config});
  Visitor visitor(server);
  EXPECT_NE(visitor.Get("/log/board?action=list&move=next").body.find(">1/3<"), std::string::npos);
  EXPECT_NE(visitor.Get("/log/board?action=list&move=next").body.find(">2/3<"), std::string::npos);
  ASSERT_FALSE(visitor.cookie().empty());
  EXPECT_NE(visitor.Get("/log/other?action=list&move=next").body.find(">3/3<"), std::string::npos);
  // Another visitor starts from the beginning.
  EXPECT_NE(server.Get("/log/other?action=list&move=next").body.find(">1/3<"), std::string::npos);
}

TEST(PublicPagesTest, SessionCookieFlags) {
  Site site;
  Fill(site.database(), 1);
  Server server({"--root", site.root().string()});
  EXPECT_EQ(server.Get("/log/board").Header("set-cookie"), "");  // nothing stored, no session
  const std::string cookie = server.Get("/log/board?action=list").Header("set-cookie");
  EXPECT_TRUE(cookie.starts_with("TSESSIONID=")) << cookie;
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  EXPECT_NE(cookie.find("Path=/"), std::string::npos);
}

TEST(PublicPagesTest, PagerLinksCannotCarryScript) {
  Site site;
  Fill(site.database(), 30);
  Server server({"--root", site.root().string()});
  const std::string crafted =
      "/log/board?action=list&x='%3E%3Cscript%3E&y=%22'><script>alert(1)</script>&z=a%20b`c\\d";
  const std::string body =
      server.Raw("GET " + crafted + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").body;
  ASSERT_NE(body.find("<br><center>"), std::string::npos) << body;
  const std::string bar = body.substr(body.find("<br><center>"));
  EXPECT_EQ(bar.find("<script"), std::string::npos) << bar;
  EXPECT_NE(bar.find("location.href='/log/board?action=list&x=%27%3E%3Cscript%3E&y=%22%27%3E%3C"
                     "script%3Ealert(1)%3C/script%3E&z=a%20b%60c%5Cd&move=first'"),
            std::string::npos)
      << bar;
}

}  // namespace
}  // namespace tessaly::e2e
