// The public pages over HTTP: one check of the pages as a browser fetches them, and the page
// number that every list of a visitor's session shares. Links built from crafted queries are
// pinned on the pager in tests/pages.
#include <gtest/gtest.h>

#include <fstream>

#include "e2e/harness.h"
#include "support/entries.h"
#include "support/golden.h"

namespace tessaly::e2e {
namespace {

TEST(PublicPagesTest, HotNewsListAndEntryAsABrowserGetsThem) {
  Site site;
  testing::FillEntries(site.database(), 60);
  Server server({"--root", site.root().string(), "--hot-news", "5"});
  HttpResponse r = server.Get("/log/board");  // no action: the hot news block
  EXPECT_EQ(r.Header("content-type"), "text/html; charset=utf-8");
  EXPECT_EQ(r.Header("set-cookie"), "");  // it stores nothing, so no session
  EXPECT_TRUE(Has(r.body, ">t56</a>") && !Has(r.body, ">t55</a>")) << r.body;

  Visitor visitor(server);
  testing::ExpectGolden(visitor.Get("/log/board?action=list").body, "list_60_page_1.html");
  EXPECT_FALSE(visitor.cookie().empty());
  EXPECT_TRUE(Has(server.Get("/log/board?action=show&id=60").body, "<b>t60</b>"));
}

// The public list on either page of the site, the editors' lists and the pictures' list.
TEST(PublicPagesTest, OnePageNumberForEveryListOfASession) {
  Site site;
  testing::FillEntries(site.database(), 60);
  for (int i = 1; i <= 16; ++i) {
    testing::InsertPicture(site.database(), "p" + std::to_string(i) + ".gif", "image/gif", "x");
  }
  const std::string config = (site.root() / "two.toml").string();
  std::ofstream(config) << "[[page]]\npath = \"/log/board\"\nweb_path = \"log\"\n"
                           "[[page]]\npath = \"/log/other\"\nweb_path = \"log\"\n";
  Server server({"--root", site.root().string(), "--config", config});
  Visitor visitor(server);
  ASSERT_TRUE(IsControlPanel(LogOn(visitor, "admin", "secret")));
  const auto at = [&](const std::string& target, const std::string& page) {
    return Has(visitor.Get(target).body, ">" + page + "<");
  };
  EXPECT_TRUE(at("/log/board?action=list&move=next", "1/3"));
  EXPECT_TRUE(at("/log/other?action=list&move=next", "2/3"));
  EXPECT_TRUE(at(AdminPage("del&move=next"), "3/3"));
  EXPECT_TRUE(at(AdminPage("edit&move=previous"), "2/3"));
  EXPECT_TRUE(at(AdminPage("image&move=previous"), "1/2"));
  EXPECT_TRUE(at(AdminPage("image&move=next"), "2/2"));
  EXPECT_TRUE(at("/log/board?action=list&move=previous", "1/3"));
  // Another visitor starts from the beginning.
  EXPECT_TRUE(Has(server.Get("/log/other?action=list&move=next").body, ">1/3<"));
}

}  // namespace
}  // namespace tessaly::e2e
