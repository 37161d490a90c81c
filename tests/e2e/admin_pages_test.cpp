// The administration pages over HTTP as a browser with a cookie jar uses them: the dispatch, the
// order of the guards, adding, deleting and editing entries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "e2e/harness.h"
#include "support/entries.h"
#include "support/golden.h"

namespace tessaly::e2e {
namespace {

std::string Count(const Site& site, const std::string& where = "TRUE") {
  return testing::Sql(site.database(), "SELECT count(*) FROM MESSAGE WHERE " + where);
}

TEST(AdminPagesTest, DispatchIsExactAndTheGuardsComeInOrder) {
  Site site;
  testing::FillEntries(site.database(), 2);
  Server server({"--root", site.root().string()});
  testing::ExpectGolden(server.Get(AdminPage("login")).body, "admin_login_form.html");
  for (const std::string query :
       {"&do=Add", "&do=%20add", "&do=add%20", "&do=", "&do=add&do=add", "", "&do=dodel&id=1"}) {
    EXPECT_TRUE(IsLoginForm(server.Get("/log/board?action=admin" + query).body)) << query;
  }
  EXPECT_TRUE(server.Get(AdminPage("add")).body.find("增加日志") != std::string::npos);
  // Not logged on: the login form even for a real post, and nothing is deleted.
  EXPECT_TRUE(IsLoginForm(server.Post(AdminPage("dodel"), "id=1").body));
  EXPECT_EQ(Count(site), "2");

  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(LogOn(admin, "admin", "secret")));
  EXPECT_NE(admin.Get(AdminPage("logon")).body.find("非法调试"), std::string::npos);
  // Logged on, but not a real post: refused, whatever items claim the method.
  for (const std::string& target :
       {AdminPage("dodel&id=1"), AdminPage("dodel&id=1&REQUEST_METHOD=POST"),
        AdminPage("update&id=1&title=x&content=y"), AdminPage("doedit&id=1")}) {
    EXPECT_NE(admin.Get(target).body.find("非法调试"), std::string::npos) << target;
  }
  EXPECT_EQ(Count(site), "2");
  EXPECT_EQ(Count(site, "TITLE = 'x'"), "0");
  // A real post is one even when an item says otherwise.
  EXPECT_NE(admin.Post(AdminPage("dodel&REQUEST_METHOD=GET"), "id=1").body.find("成功删除日志"),
            std::string::npos);
  EXPECT_EQ(Count(site), "1");

  // A plain link to the add page's post ends the session.
  const std::string cookie = admin.cookie();
  EXPECT_NE(admin.Get(AdminPage("doadd&title=t&content=c")).body.find("非法调试"),
            std::string::npos);
  EXPECT_EQ(admin.cookie(), "");
  EXPECT_TRUE(IsLoginForm(server
                              .Post(AdminPage("doadd"), Form({{"title", "t"}, {"content", "c"}}),
                                    kFormType, "Cookie: " + cookie + "\r\n")
                              .body));
  EXPECT_EQ(Count(site), "1");
}

TEST(AdminPagesTest, AddingRefusesBlanksAndARepeatOfTheNewestEntryOnly) {
  Site site;
  Server server({"--root", site.root().string()});
  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(LogOn(admin, "admin", "secret")));
  const auto add = [&](const std::string& title, const std::string& content) {
    return admin.Post(AdminPage("doadd"), Form({{"title", title}, {"content", content}})).body;
  };
  for (const auto& [title, content] : {std::pair{"", "c"}, {"t", ""}, {"   ", "c"}, {"t", "  "}}) {
    EXPECT_NE(add(title, content).find("资料不全"), std::string::npos) << title << "|" << content;
  }
  EXPECT_EQ(Count(site), "0");
  EXPECT_NE(add("A", "[b]a[/b]").find("成功增加日志"), std::string::npos);
  EXPECT_NE(add("A", "[b]a[/b]").find("该日志已存在"), std::string::npos);
  EXPECT_NE(add("B", "b").find("成功增加日志"), std::string::npos);
  EXPECT_NE(add("A", "[b]a[/b]").find("成功增加日志"), std::string::npos);
  EXPECT_EQ(Count(site, "TITLE = 'A' AND CONTENT = '<b>a</b>'"), "2");
  EXPECT_NE(add(" A  ", "a").find("成功增加日志"), std::string::npos);
  EXPECT_EQ(Count(site, "TITLE = '&nbsp;A&nbsp;&nbsp;'"), "1");
}

TEST(AdminPagesTest, DeletingTakesOnlyAListOfWholeNumbers) {
  Site site;
  testing::FillEntries(site.database(), 5);
  Server server({"--root", site.root().string()});
  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(LogOn(admin, "admin", "secret")));
  const auto remove = [&](const std::string& body) {
    return admin.Post(AdminPage("dodel"), body).body;
  };
  for (const std::string refused : {"id=2)%20or%20(1=1", "id=2,x", "id=2;3", "id=2&id="}) {
    EXPECT_NE(remove(refused).find("非法调试"), std::string::npos) << refused;
  }
  EXPECT_EQ(Count(site), "5");
  for (const std::string none : {"", "id=", "id=%20%20"}) {
    EXPECT_TRUE(IsControlPanel(remove(none))) << none;
  }
  const std::string deleted = remove("id=1&id=3&id=99");  // checked boxes come as "1, 3, 99"
  EXPECT_NE(deleted.find("成功删除日志"), std::string::npos);
  EXPECT_NE(deleted.find("'/log/board?action=admin&do=control'"), std::string::npos);
  EXPECT_EQ(Count(site), "3");
  EXPECT_EQ(Count(site, "ID IN (1, 3)"), "0");
}

TEST(AdminPagesTest, EditingShowsTheMarkupAndAnUnchangedSaveStoresTheSameHtml) {
  Site site;
  Server server({"--root", site.root().string()});
  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(LogOn(admin, "admin", "secret")));
  const std::string markup = "[b]bold[/b] [c blue]and[/c] [s]small[/s]\r\nnext line";
  admin.Post(AdminPage("doadd"), Form({{"title", "first"}, {"content", markup}}));
  admin.Post(AdminPage("doadd"), Form({{"title", "second"}, {"content", "plain"}}));

  // The form's exact bytes are checked on the page function (tests/admin).
  EXPECT_NE(admin.Post(AdminPage("doedit"), "id=1").body.find(">" + markup + "</textarea>"),
            std::string::npos);
  const auto content = [&] {
    return testing::Sql(site.database(), "SELECT CONTENT FROM MESSAGE WHERE ID = 1");
  };
  const std::string stored = content();
  const std::string saved =
      admin.Post(AdminPage("update&id=1"), Form({{"title", "first"}, {"content", markup}})).body;
  EXPECT_NE(saved.find("编辑成功"), std::string::npos);
  EXPECT_NE(saved.find("location.href='/log/board?action=admin&do=edit'"), std::string::npos);
  EXPECT_EQ(content(), stored);

  // Deleted while its form was open.
  testing::Sql(site.database(), "DELETE FROM MESSAGE WHERE ID = 2");
  EXPECT_NE(admin.Post(AdminPage("update&id=2"), "title=x&content=y").body.find("该则新闻不存"),
            std::string::npos);
  EXPECT_NE(admin.Post(AdminPage("doedit"), "id=2").body.find("该则日志不存"), std::string::npos);
  EXPECT_NE(admin.Post(AdminPage("doedit"), "id=1%20or%201=1").body.find("非法调试"),
            std::string::npos);
  EXPECT_TRUE(IsControlPanel(admin.Post(AdminPage("doedit"), "").body));
}

// STIME is the local time of the server that adds the entry, to the millisecond, whichever
// database keeps it.
TEST(AdminPagesTest, AnEntryIsStampedWithTheServersLocalTime) {
  Site site;
  ::setenv("TZ", "Asia/Shanghai", 1);  // UTC+8 all year; the server started below inherits it
  Server server({"--root", site.root().string()});
  ::unsetenv("TZ");
  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(LogOn(admin, "admin", "secret")));
  const std::time_t before = std::time(nullptr);
  admin.Post(AdminPage("doadd"), Form({{"title", "t"}, {"content", "c"}}));
  const std::string stime = testing::Sql(site.database(), "SELECT STIME FROM MESSAGE");
  ASSERT_EQ(stime.size(), 23u) << stime;  // YYYY-MM-DD HH:MM:SS.fff
  std::tm local{};
  ASSERT_NE(::strptime(stime.substr(0, 19).c_str(), "%Y-%m-%d %H:%M:%S", &local), nullptr);
  const std::time_t stamped = ::timegm(&local) - 8 * 3600;
  EXPECT_LE(std::abs(static_cast<long>(stamped - before)), 5L) << stime;
}

}  // namespace
}  // namespace tessaly::e2e
