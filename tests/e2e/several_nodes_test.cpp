// Two servers on one PostgreSQL database, as behind a load balancer: what one node commits
// shows on the very next request to the other, whose cached pages were made before it.
#include <gtest/gtest.h>

#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

bool Shows(const std::string& page, const std::string& title) {
  return page.find(">" + title + "</a>") != std::string::npos;
}

TEST(SeveralNodesTest, AnEntryAddedOnOneNodeShowsOnTheNextRequestToTheOther) {
  if (!OnPostgres()) GTEST_SKIP() << "several nodes share a PostgreSQL database";
  Site site;
  testing::FillEntries(site.database(), 30);
  Server a({"--root", site.root().string(), "--hot-news", "5"});
  Server b({"--root", site.root().string(), "--hot-news", "5"});
  // Both nodes keep their pages of the first state.
  for (Server* node : {&a, &b}) {
    for (int i = 0; i < 2; ++i) {
      EXPECT_TRUE(Shows(node->Get("/log/board").body, "t30"));
      EXPECT_TRUE(Shows(node->Get("/log/board?action=list").body, "t30"));
    }
  }
  Visitor admin_a(a);
  ASSERT_TRUE(IsControlPanel(LogOn(admin_a, "admin", "secret")));
  ASSERT_NE(admin_a.Post(AdminPage("doadd"), Form({{"title", "fromA"}, {"content", "c"}}))
                .body.find("成功增加日志"),
            std::string::npos);
  EXPECT_TRUE(Shows(b.Get("/log/board").body, "fromA"));
  EXPECT_TRUE(Shows(b.Get("/log/board?action=list").body, "fromA"));
  EXPECT_NE(b.Get("/log/board?action=show&id=31").body.find("<b>fromA</b>"), std::string::npos);

  // A change by another program shows on both.
  testing::Sql(site.database(), "UPDATE MESSAGE SET TITLE = 'renamed' WHERE ID = 30");
  for (Server* node : {&b, &a}) {
    EXPECT_TRUE(Shows(node->Get("/log/board").body, "renamed"));
    EXPECT_FALSE(Shows(node->Get("/log/board").body, "t30"));
  }

  // Deleted on the other node: gone from the first at once.
  Visitor admin_b(b);
  ASSERT_TRUE(IsControlPanel(LogOn(admin_b, "admin", "secret")));
  admin_b.Post(AdminPage("dodel"), "id=31");
  EXPECT_FALSE(Shows(a.Get("/log/board").body, "fromA"));
  EXPECT_FALSE(Shows(a.Get("/log/board?action=list").body, "fromA"));
}

}  // namespace
}  // namespace tessaly::e2e
