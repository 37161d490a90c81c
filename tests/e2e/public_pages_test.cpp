// The public pages over HTTP: one check of each page as a browser fetches it, the page number
// that a visitor's lists share through the session cookie, and a crafted link.
#include <gtest/gtest.h>

#include <fstream>

#include "e2e/harness.h"
#include "e2e/visitor.h"
#include "support/entries.h"
#include "support/golden.h"

namespace tessaly::e2e {
namespace {

TEST(PublicPagesTest, HotNewsListAndEntryAsABrowserGetsThem) {
  Site site;
  testing::FillEntries(site.database(), 60);
  Server server({"--root", site.root().string()});
  Site twelve;
  testing::FillEntries(twelve.database(), 12);
  Server small({"--root", twelve.root().string(), "--hot-news", "5"});
  HttpResponse r = small.Get("/log/board");  // no action: the hot news block
  EXPECT_EQ(r.Header("content-type"), "text/html; charset=utf-8");
  EXPECT_EQ(r.Header("set-cookie"), "");  // it stores nothing, so no session
  testing::ExpectGolden(r.body, "hot_news_5_of_12.html");

  Visitor visitor(server);
  testing::ExpectGolden(visitor.Get("/log/board?action=list").body, "list_60_page_1.html");
  EXPECT_FALSE(visitor.cookie().empty());
  testing::ExpectGolden(visitor.Get("/log/board?action=list&move=last").body,
                        "list_60_page_3.html");
  EXPECT_NE(server.Get("/log/board?action=show&id=60").body.find("<b>t60</b>"), std::string::npos);
}

TEST(PublicPagesTest, PageIsSharedBetweenListsOfOneSession) {
  Site site;
  testing::FillEntries(site.database(), 60);
  const std::string config = (site.root() / "two.toml").string();
  std::ofstream(config) << "[[page]]\npath = \"/log/board\"\nweb_path = \"log\"\n"
                           "[[page]]\npath = \"/log/other\"\nweb_path = \"log\"\n";
  Server server({"--root", site.root().string(), "--config", config});
  Visitor visitor(server);
  EXPECT_NE(visitor.Get("/log/board?action=list&move=next").body.find(">1/3<"), std::string::npos);
  EXPECT_NE(visitor.Get("/log/board?action=list&move=next").body.find(">2/3<"), std::string::npos);
  EXPECT_NE(visitor.Get("/log/other?action=list&move=next").body.find(">3/3<"), std::string::npos);
  // Another visitor starts from the beginning.
  EXPECT_NE(server.Get("/log/other?action=list&move=next").body.find(">1/3<"), std::string::npos);
}

TEST(PublicPagesTest, PagerLinksCannotCarryScript) {
  Site site;
  testing::FillEntries(site.database(), 30);
  Server server({"--root", site.root().string()});
  const std::string crafted =
      "/log/board?action=list&x='%3E%3Cscript%3E&y=%22'><script>alert(1)</script>&z=a%20b`c\\d"
      "&w=&apos;;alert(1);//";
  const std::string body =
      server.Raw("GET " + crafted + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").body;
  ASSERT_NE(body.find("<br><center>"), std::string::npos) << body;
  const std::string bar = body.substr(body.find("<br><center>"));
  EXPECT_EQ(bar.find("<script"), std::string::npos) << bar;
  EXPECT_NE(bar.find("location.href='/log/board?action=list&x=%27%3E%3Cscript%3E&y=%22%27%3E%3C"
                     "script%3Ealert(1)%3C/script%3E&z=a%20b%60c%5Cd&w=&apos%3B%3Balert(1)%3B//"
                     "&move=first'"),
            std::string::npos)
      << bar;
}

}  // namespace
}  // namespace tessaly::e2e
