// The administration pages over HTTP as a browser with a cookie jar uses them: the dispatch, the
// order of the guards, adding, deleting and editing entries. The pages' own cases are in
// tests/admin.
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
  for (const std::string query : {"&do=Add", "&do=%20add", "&do=", "&do=add&do=add", ""}) {
    EXPECT_TRUE(IsLoginForm(server.Get("/log/board?action=admin" + query).body)) << query;
  }
  EXPECT_TRUE(Has(server.Get(AdminPage("add")).body, "增加日志"));
  // Not logged on: the login form even for a real post, and nothing is deleted.
  EXPECT_TRUE(IsLoginForm(server.Post(AdminPage("dodel"), "id=1").body));
  EXPECT_EQ(Count(site), "2");

  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(LogOn(admin, "admin", "secret")));
  // Logged on, but not a real post: refused, whatever items claim the method.
  for (const std::string& target :
       {AdminPage("logon"), AdminPage("dodel&id=1&REQUEST_METHOD=POST"),
        AdminPage("update&id=1&title=x&content=y"), AdminPage("doedit&id=1")}) {
    EXPECT_TRUE(Has(admin.Get(target).body, "非法调试")) << target;
  }
  EXPECT_EQ(Count(site, "TITLE <> 'x'"), "2");
  // A real post is one even when an item says otherwise.
  EXPECT_TRUE(Has(admin.Post(AdminPage("dodel&REQUEST_METHOD=GET"), "id=1").body, "成功删除日志"));
  EXPECT_EQ(Count(site), "1");

  // A plain link to the add page's post ends the session.
  const std::string cookie = admin.cookie();
  EXPECT_TRUE(Has(admin.Get(AdminPage("doadd&title=t&content=c")).body, "非法调试"));
  EXPECT_EQ(admin.cookie(), "");
  EXPECT_TRUE(IsLoginForm(server
                              .Post(AdminPage("doadd"), Form({{"title", "t"}, {"content", "c"}}),
                                    kFormType, "Cookie: " + cookie + "\r\n")
                              .body));
  EXPECT_EQ(Count(site), "1");
}

// Adding refuses blanks and a repeat of the newest entry only; deleting takes only a list of
// whole numbers (its parsing is pinned in tests/pages); an unchanged save of the edit form
// stores the same HTML; and an entry is stamped with the server's local time to the
// millisecond, whichever database keeps it.
TEST(AdminPagesTest, AddDeleteEditAndTheTimeStamp) {
  Site site;
  ::setenv("TZ", "Asia/Shanghai", 1);  // UTC+8 all year; the server started below inherits it
  Server server({"--root", site.root().string()});
  ::unsetenv("TZ");
  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(LogOn(admin, "admin", "secret")));
  const auto add = [&](const std::string& title, const std::string& content) {
    return admin.Post(AdminPage("doadd"), Form({{"title", title}, {"content", content}})).body;
  };
  for (const auto& [title, content] : {std::pair{"", "c"}, {"   ", "c"}, {"t", "  "}}) {
    EXPECT_TRUE(Has(add(title, content), "资料不全")) << title << "|" << content;
  }
  const std::string markup = "[b]bold[/b] [c blue]and[/c] [s]small[/s]\r\nnext line";
  const std::time_t before = std::time(nullptr);
  EXPECT_TRUE(Has(add("A", markup), "成功增加日志"));  // 1
  EXPECT_TRUE(Has(add("A", markup), "该日志已存在"));
  EXPECT_TRUE(Has(add("B", "b"), "成功增加日志"));         // 2
  EXPECT_TRUE(Has(add("A", "[b]a[/b]"), "成功增加日志"));  // 3
  EXPECT_TRUE(Has(add(" A  ", "a"), "成功增加日志"));      // 4
  EXPECT_EQ(Count(site, "TITLE = '&nbsp;A&nbsp;&nbsp;' AND ID = 4"), "1");
  EXPECT_EQ(Count(site, "CONTENT = '<b>a</b>' AND ID = 3"), "1");

  const std::string stime = testing::Sql(site.database(), "SELECT STIME FROM MESSAGE WHERE ID = 1");
  ASSERT_EQ(stime.size(), 23u) << stime;  // YYYY-MM-DD HH:MM:SS.fff
  std::tm local{};
  ASSERT_NE(::strptime(stime.substr(0, 19).c_str(), "%Y-%m-%d %H:%M:%S", &local), nullptr);
  EXPECT_LE(std::abs(static_cast<long>(::timegm(&local) - 8 * 3600 - before)), 5L) << stime;

  // The form's exact bytes are checked on the page function (tests/admin).
  EXPECT_TRUE(Has(admin.Post(AdminPage("doedit"), "id=1").body, ">" + markup + "</textarea>"));
  const auto content = [&] {
    return testing::Sql(site.database(), "SELECT CONTENT FROM MESSAGE WHERE ID = 1");
  };
  const std::string stored = content();
  const std::string saved =
      admin.Post(AdminPage("update&id=1"), Form({{"title", "A"}, {"content", markup}})).body;
  EXPECT_TRUE(Has(saved, "location.href='/log/board?action=admin&do=edit'")) << saved;
  EXPECT_EQ(content(), stored);
  EXPECT_TRUE(Has(admin.Post(AdminPage("doedit"), "id=1%20or%201=1").body, "非法调试"));

  const auto remove = [&](const std::string& body) {
    return admin.Post(AdminPage("dodel"), body).body;
  };
  for (const std::string refused : {"id=2)%20or%20(1=1", "id=2&id="}) {
    EXPECT_TRUE(Has(remove(refused), "非法调试")) << refused;
  }
  EXPECT_TRUE(IsControlPanel(remove("id=%20")));
  EXPECT_EQ(Count(site), "4");
  const std::string deleted = remove("id=2&id=3&id=99");  // checked boxes come as "2, 3, 99"
  EXPECT_TRUE(Has(deleted, "'/log/board?action=admin&do=control'")) << deleted;
  EXPECT_EQ(Count(site, "ID IN (1, 4)"), "2");
  EXPECT_EQ(Count(site), "2");
  // Deleted while its form was open.
  EXPECT_TRUE(Has(admin.Post(AdminPage("update&id=2"), "title=x&content=y").body, "该则新闻不存"));
  EXPECT_TRUE(Has(admin.Post(AdminPage("doedit"), "id=2").body, "该则日志不存"));
}

}  // namespace
}  // namespace tessaly::e2e
