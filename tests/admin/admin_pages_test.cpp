// The administration pages called directly with a fake context: their exact bytes (golden
// files), the lists' order and paging, the edit form's escaping as a browser reads it back, and
// the session time-outs of the editors. What goes over HTTP is in tests/e2e/admin_*.
#include <gtest/gtest.h>

#include "admin/admin.h"
#include "support/entries.h"
#include "support/golden.h"
#include "support/page_fixture.h"
#include "text/escape.h"
#include "text/markup.h"

namespace tessaly::admin {
namespace {

using testing::ExpectGolden;
using testing::PageFixture;

// A fixture whose session is logged on and whose requests are real posts of `form`.
class AdminPagesTest : public ::testing::Test {
 protected:
  AdminPagesTest() { f_.host.session.SetValue("username", "admin"); }

  void Post(testing::Items form, testing::Items query = {}) {
    f_.NewRequest(std::move(query));
    f_.host.request.form = std::move(form);
    f_.host.request.server_variables["REQUEST_METHOD"] = "POST";
  }
  const std::string& body() { return f_.host.response.body; }

  PageFixture f_;
};

TEST_F(AdminPagesTest, FormsAsWritten) {
  for (const auto& [write, golden] : {std::pair{&WriteControlPanel, "admin_control_panel.html"},
                                      {&WriteAddForm, "admin_add_form.html"},
                                      {&WritePasswordForm, "admin_password_form.html"}}) {
    f_.NewRequest();
    write(f_.Context());
    ExpectGolden(body(), golden);
  }
  f_.NewRequest({{"do", "login"}});
  AdminMain(f_.Context());
  ExpectGolden(body(), "admin_login_form.html");

  f_.texts.site_label = "<Demo & Co's>";
  f_.NewRequest();
  WriteControlPanel(f_.Context());
  EXPECT_NE(body().find("<font color='#0000FF'>&lt;Demo &amp; Co&#39;s&gt;</font>"),
            std::string::npos);
}

TEST_F(AdminPagesTest, DeleteListOldestFirstEditListNewestFirstBothPaged) {
  const std::string file = f_.MakeDatabase();
  Post({{"do", "del"}}, {{"action", "admin"}});  // as the control panel posts it
  WriteDeleteList(f_.Context());
  ExpectGolden(body(), "list_empty.html");
  f_.NewRequest();
  WriteEditList(f_.Context());
  ExpectGolden(body(), "list_empty.html");

  testing::FillEntries(file, 26);
  Post({{"do", "del"}}, {{"action", "admin"}});
  f_.host.request.raw_query = "action=admin";
  WriteDeleteList(f_.Context());
  ExpectGolden(body(), "admin_delete_list_26_page_1.html");
  // A pager link already names the list: nothing is added a second time.
  f_.NewRequest({{"action", "admin"}, {"do", "del"}, {"move", "next"}},
                "action=admin&do=del&move=next");
  WriteDeleteList(f_.Context());
  EXPECT_NE(body().find("value='26'><a href='javascript:openwin(26)'>t26</a>"), std::string::npos);
  EXPECT_EQ(body().find("t25<"), std::string::npos);
  EXPECT_NE(body().find("'/log/board?action=admin&do=del&move=first'"), std::string::npos);
  EXPECT_NE(body().find(">2/2<"), std::string::npos);

  Post({{"do", "edit"}}, {{"action", "admin"}});
  f_.host.request.raw_query = "action=admin";
  WriteEditList(f_.Context());
  ExpectGolden(body(), "admin_edit_list_26_page_1.html");
}

// What a browser shows in a form field, and posts back: the text with its character references
// decoded and, in a text area, one line break after the opening tag dropped.
std::string AsBrowserReads(std::string html, bool text_area) {
  if (text_area && html.starts_with("\r\n")) html.erase(0, 2);
  std::string out;
  for (std::size_t i = 0; i < html.size(); ++i) {
    static const std::pair<std::string_view, char> kRefs[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
    bool decoded = false;
    for (const auto& [ref, c] : kRefs) {
      if (std::string_view(html).substr(i).starts_with(ref)) {
        out += c;
        i += ref.size() - 1;
        decoded = true;
        break;
      }
    }
    if (!decoded) out += html[i];
  }
  return out;
}

std::string Between(const std::string& text, const std::string& from, const std::string& to) {
  const std::size_t start = text.find(from) + from.size();
  return text.substr(start, text.find(to, start) - start);
}

TEST_F(AdminPagesTest, EditFormShowsTheMarkupAsABrowserReadsItBack) {
  const std::string file = f_.MakeDatabase();
  const auto add = [&](const std::string& title, const std::string& content) {
    testing::InsertEntry(file, text::EncodeText(title),
                         text::MarkupToHtml(text::EncodeText(content), "/log/board"),
                         "2026-03-01 10:00:00");
  };
  add("Ordinary title", "[b]bold[/b] and [c red]red[/c]\r\nsecond line");
  add("it's \"<b>\" & more", "\r\nfirst line</textarea><script>alert(1)</script> & 'q'");

  for (const auto& [id, golden] :
       {std::pair{"1", "admin_edit_form.html"}, {"2", "admin_edit_form_escaped.html"}}) {
    Post({{"id", id}});
    WriteEditForm(f_.Context());
    const std::string form = body();
    ExpectGolden(form, golden);
    const std::string title = AsBrowserReads(Between(form, "value='", "' style"), false);
    const std::string content =
        AsBrowserReads(Between(form, "cols='92' style='font-size: 14px'>", "</textarea>"), true);

    auto stored = f_.database.Open({"SELECT * FROM MESSAGE WHERE ID = ?", {id}, "MESSAGE"});
    EXPECT_EQ(title, text::DecodeText(stored->Field("TITLE").ToText())) << id;
    EXPECT_EQ(content, text::HtmlToMarkup(stored->Field("CONTENT").ToText())) << id;
  }
}

TEST_F(AdminPagesTest, EditorsHoldTheSessionLongerUntilSaved) {
  f_.MakeDatabase();
  const struct {
    void (*page)(const pages::PageContext&);
    testing::Items form, query;
    const char* message;
    int timeout;
  } steps[] = {
      {&WriteAddForm, {}, {}, "", 120},
      {&DoAddEntry, {{"title", " "}, {"content", "c"}}, {}, "资料不全", 120},
      {&DoAddEntry, {{"title", "t"}, {"content", "c"}}, {}, "成功增加日志", 20},
      {&WriteEditForm, {{"id", "1"}}, {}, "", 120},
      {&DoUpdateEntry, {{"title", "t"}, {"content", "c"}}, {{"id", "2"}}, "该则新闻不存", 120},
      {&DoUpdateEntry, {{"title", "t"}, {"content", "c"}}, {{"id", "1"}}, "编辑成功", 20},
  };
  for (const auto& step : steps) {
    Post(step.form, step.query);
    step.page(f_.Context());
    EXPECT_NE(body().find(step.message), std::string::npos) << step.message;
    EXPECT_EQ(f_.host.session.timeout, step.timeout) << step.message;
  }
}

TEST_F(AdminPagesTest, LogonFindingEveryHashSlotTakenAsksToRetryAndCountsNoFailure) {
  f_.MakeDatabase();
  const auto held = f_.logons.TryHashSlot();
  for (int i = 0; i < 6; ++i) {
    Post({{"username", "admin"}, {"password", "guess"}});
    f_.host.request.server_variables["REMOTE_ADDR"] = "10.0.0.1";
    DoLogon(f_.Context());
    EXPECT_NE(body().find("登陆错误</font>"), std::string::npos);
    EXPECT_NE(body().find("服务器繁忙，请稍后再试。"), std::string::npos);
  }
  EXPECT_FALSE(f_.logons.Closed("10.0.0.1"));
}

}  // namespace
}  // namespace tessaly::admin
