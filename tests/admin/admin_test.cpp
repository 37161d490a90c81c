// The administration pages called directly with a fake context, and the parts of the logon that
// hold no page: password hashes, failed logons per client address on a clock the test moves,
// hash slots. What goes over HTTP, the login form and the guards included, is in tests/e2e.
#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/resource.h>
#include <unistd.h>

#include "admin/admin.h"
#include "admin/passwords.h"
#include "base/errors.h"
#include "pages/logon_guard.h"
#include "pages/message.h"
#include "support/entries.h"
#include "support/golden.h"
#include "support/page_fixture.h"
#include "support/page_text.h"
#include "text/escape.h"
#include "text/markup.h"
#include "text/replace.h"

namespace tessaly::admin {
namespace {

using std::chrono::minutes;
using support::ExpectGolden;
using support::Has;

// A fixture whose session is logged on and whose requests are real posts of `form`.
class AdminPagesTest : public ::testing::Test {
 protected:
  AdminPagesTest() { f_.host.session.SetValue("username", "admin"); }

  void Post(support::Items form, support::Items query = {}) {
    f_.NewRequest(std::move(query), "POST");
    f_.host.request.form = std::move(form);
  }
  const std::string& Render(pages::PageFunction page) { return f_.Run(page); }

  support::PageFixture f_;
  std::string file_ = f_.MakeDatabase();
};

// The site's label is shown escaped on the control panel.
TEST_F(AdminPagesTest, FormsAsWritten) {
  f_.texts.site_label = "<Demo & Co's>";
  for (const auto& [write, golden] : {std::pair{&WriteControlPanel, "admin_control_panel.html"},
                                      {&WriteAddForm, "admin_add_form.html"},
                                      {&WritePasswordForm, "admin_password_form.html"}}) {
    f_.NewRequest();
    ExpectGolden(Render(write), golden);
  }
}

// Both lists are one function apart from their order, form and pager item.
TEST_F(AdminPagesTest, DeleteListOldestFirstEditListNewestFirstBothPaged) {
  Post({{"do", "del"}}, {{"action", "admin"}});  // as the control panel posts it
  ExpectGolden(Render(WriteDeleteList), "list_empty.html");

  support::FillEntries(file_, 26);
  Post({{"do", "del"}}, {{"action", "admin"}});
  ExpectGolden(Render(WriteDeleteList), "admin_delete_list_26_page_1.html");
  Post({{"do", "edit"}}, {{"action", "admin"}});
  ExpectGolden(Render(WriteEditList), "admin_edit_list_26_page_1.html");
  // A pager link that already names the list gets nothing added a second time.
  f_.NewRequest({{"action", "admin"}, {"do", "del"}, {"move", "last"}});
  const std::string last = Render(WriteDeleteList);
  EXPECT_TRUE(Has(last, "value='26'><a href='javascript:openwin(26)'>t26</a>"));
  EXPECT_TRUE(Has(last, "'/log/board?action=admin&do=del&move=first'"));
}

// What a browser shows in a form field, and posts back: the text with its character references
// decoded (the ampersand's last, so that each is decoded once) and, in a text area, one line
// break after the opening tag dropped.
std::string AsBrowserReads(std::string html, bool text_area) {
  if (text_area && html.starts_with("\r\n")) html.erase(0, 2);
  for (const auto& [ref, c] :
       {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}}) {
    html = text::ReplaceAll(html, ref, c);
  }
  return html;
}

std::string Between(const std::string& text, const std::string& from, const std::string& to) {
  const std::size_t start = text.find(from) + from.size();
  return text.substr(start, text.find(to, start) - start);
}

// The form shows what was typed when the entry was added.
TEST_F(AdminPagesTest, EditFormShowsTheMarkupAsABrowserReadsItBack) {
  const std::pair<std::string, std::string> typed[] = {
      {"Ordinary title", "[b]bold[/b] and [c red]red[/c]\r\nsecond line"},
      {"it's \"<b>\" & more", "\r\nfirst line</textarea><script>alert(1)</script> & 'q'"}};
  for (const auto& [title, content] : typed) {
    support::InsertEntry(file_, text::EncodeText(title),
                         text::MarkupToHtml(text::EncodeText(content), "/log/board"),
                         "2026-03-01 10:00:00");
  }
  for (const auto& [id, golden] :
       {std::pair{"1", "admin_edit_form.html"}, {"2", "admin_edit_form_escaped.html"}}) {
    Post({{"id", id}});
    const std::string form = Render(WriteEditForm);
    ExpectGolden(form, golden);
    const auto& [title, content] = typed[id[0] - '1'];
    EXPECT_EQ(AsBrowserReads(Between(form, "value='", "' style"), false), title);
    EXPECT_EQ(
        AsBrowserReads(Between(form, "cols='92' style='font-size: 14px'>", "</textarea>"), true),
        content);
  }
}

TEST_F(AdminPagesTest, EditorsHoldTheSessionLongerUntilSaved) {
  const struct {
    void (*page)(const pages::PageContext&);
    support::Items form, query;
    const char* message;
    int timeout;
  } steps[] = {
      {&WriteAddForm, {}, {}, "", 120},
      {&DoAddEntry, {{"title", " "}, {"content", "c"}}, {}, "资料不全", 120},
      {&DoAddEntry, {{"title", "t"}, {"content", "  "}}, {}, "资料不全", 120},
      {&DoAddEntry, {{"title", "t"}, {"content", "c"}}, {}, "成功增加日志", 20},
      {&WriteEditForm, {{"id", "1"}}, {}, "", 120},
      {&DoUpdateEntry, {{"title", "t"}, {"content", "c"}}, {{"id", "2"}}, "该则新闻不存", 120},
      {&DoUpdateEntry, {{"title", "t"}, {"content", "c"}}, {{"id", "1"}}, "编辑成功", 20},
  };
  for (const auto& step : steps) {
    Post(step.form, step.query);
    EXPECT_TRUE(Has(Render(step.page), step.message)) << step.message;
    EXPECT_EQ(f_.host.session.timeout, step.timeout) << step.message;
  }
}

TEST_F(AdminPagesTest, LogonFindingEveryHashSlotTakenAsksToRetryAndCountsNoFailure) {
  const auto held = f_.logons.TryHashSlot();
  for (int i = 0; i < 6; ++i) {
    Post({{"username", "admin"}, {"password", "guess"}});
    f_.host.request.server_variables["REMOTE_ADDR"] = "10.0.0.1";
    EXPECT_TRUE(Has(Render(DoLogon), "登陆错误</font>"));
    EXPECT_TRUE(Has(f_.host.response.body, "服务器繁忙，请稍后再试。"));
  }
  EXPECT_FALSE(f_.logons.Closed("10.0.0.1"));
}

// A page of another origin (another port, a sibling host) cannot act through the session: each
// page that changes something refuses its request, and nothing changes, the session included.
TEST_F(AdminPagesTest, ARequestThatAPageOfAnotherOriginMadeChangesNothing) {
  support::FillEntries(file_, 2);
  support::Sql(file_, "INSERT INTO USERTB (USERNAME, PASSWORD) VALUES ('admin', 'secret')");
  const std::string before = support::Sql(file_, "SELECT PASSWORD FROM USERTB");
  const struct {
    pages::PageFunction page;
    support::Items form, query;
    const char* method;
  } requests[] = {
      {&DoLogon, {{"username", "admin"}, {"password", "secret"}}, {}, "POST"},
      {&DoAddEntry, {{"title", "t"}, {"content", "c"}}, {}, "POST"},
      {&DoAddEntry, {}, {{"title", "t"}, {"content", "c"}}, "GET"},
      {&DoDeleteEntries, {{"id", "1"}}, {}, "POST"},
      {&DoUpdateEntry, {{"title", "x"}, {"content", "y"}}, {{"id", "1"}}, "POST"},
      {&DoChangePassword, {}, {{"password", "hacked1"}, {"chkpassword", "hacked1"}}, "GET"},
      {&DoChangePassword, {{"password", "hacked1"}, {"chkpassword", "hacked1"}}, {}, "POST"},
  };
  for (const auto& request : requests) {
    f_.NewRequest(request.query, request.method);
    f_.host.request.form = request.form;
    f_.host.request.other_origin = true;
    EXPECT_TRUE(Has(Render(request.page), pages::kRefusalText));
    EXPECT_FALSE(f_.host.session.abandoned);
  }
  EXPECT_EQ(f_.host.session.logged_on_as, "");
  EXPECT_EQ(f_.host.session.ended_others_of, "");
  EXPECT_EQ(support::Sql(file_, "SELECT count(*) FROM MESSAGE WHERE TITLE IN ('t1', 't2')"), "2");
  EXPECT_EQ(support::Sql(file_, "SELECT count(*) FROM MESSAGE"), "2");
  EXPECT_EQ(support::Sql(file_, "SELECT PASSWORD FROM USERTB"), before);
}

// A new password of nothing or of spaces would shut the account out: it is refused. A change
// ends the account's other sessions; a logon starts the session anew for the account.
TEST_F(AdminPagesTest, PasswordChangeRefusesEmptyAndEndsTheOtherSessions) {
  support::Sql(file_, "INSERT INTO USERTB (USERNAME, PASSWORD) VALUES ('admin', 'secret')");
  const std::string before = support::Sql(file_, "SELECT PASSWORD FROM USERTB");
  for (const auto& [password, check] : {std::pair{"", ""}, {"   ", " "}}) {
    Post({{"password", password}, {"chkpassword", check}});
    ExpectGolden(Render(DoChangePassword), "admin_password_empty.html");
  }
  f_.NewRequest({{"do", "dopassword"}});  // the bare link
  ExpectGolden(Render(DoChangePassword), "admin_password_empty.html");
  EXPECT_EQ(support::Sql(file_, "SELECT PASSWORD FROM USERTB"), before);
  EXPECT_EQ(f_.host.session.ended_others_of, "");

  Post({{"password", " new "}, {"chkpassword", "new"}});
  EXPECT_TRUE(Has(Render(DoChangePassword), "密码已更新成功了！"));
  EXPECT_EQ(f_.host.session.ended_others_of, "admin");
  EXPECT_EQ(CheckPassword(support::Sql(file_, "SELECT PASSWORD FROM USERTB"), " new "),
            PasswordCheck::kRight);

  f_.host.session.values.clear();
  Post({{"username", "admin"}, {"password", " new "}});
  EXPECT_TRUE(Has(Render(DoLogon), "控制面板"));
  EXPECT_EQ(f_.host.session.logged_on_as, "admin");
  EXPECT_EQ(f_.host.session.Value("username"), "admin");
}

TEST(PasswordsTest, HashesAreSaltedAndClearOrWeakRowsAreToBeStoredAgain) {
  const std::string hash = HashPassword("it's a secret");
  EXPECT_TRUE(hash.starts_with("$argon2id$")) << hash;
  EXPECT_NE(HashPassword("it's a secret"), hash);
  // A hash made with weaker limits than today's.
  char weak[crypto_pwhash_STRBYTES];
  ASSERT_EQ(crypto_pwhash_str_alg(weak, "pw", 2, crypto_pwhash_OPSLIMIT_MIN,
                                  crypto_pwhash_MEMLIMIT_MIN, crypto_pwhash_ALG_ARGON2ID13),
            0);
  const struct {
    std::string stored, given;
    PasswordCheck expected;
  } cases[] = {
      {hash, "it's a secret", PasswordCheck::kRight},
      {hash, "it's a secret ", PasswordCheck::kWrong},
      {"$argon2id$v=19$broken", "x", PasswordCheck::kWrong},
      {"plain", "plain", PasswordCheck::kRightStoreAgain},  // a row written by hand, in clear
      {weak, "pw", PasswordCheck::kRightStoreAgain},
  };
  for (const auto& [stored, given, expected] : cases) {
    EXPECT_EQ(CheckPassword(stored, given), expected) << stored << " / " << given;
  }
  EXPECT_EQ(CheckWithoutAccount("pw"), PasswordCheck::kWrong);
}

TEST(PasswordsTest, HashesRunOnALowPriorityThread) {
  const int page_nice = getpriority(PRIO_PROCESS, 0);
  EXPECT_GT(RunAtLowPriority([] { return getpriority(PRIO_PROCESS, 0); }), page_nice);
  EXPECT_NE(RunAtLowPriority([] { return gettid(); }), gettid());
  EXPECT_EQ(getpriority(PRIO_PROCESS, 0), page_nice);
  EXPECT_THROW(RunAtLowPriority([]() -> int { throw Error("x"); }), Error);
}

class LogonGuardTest : public ::testing::Test {
 protected:
  pages::LogonGuard Guard(pages::LogonLimits limits = {}) {
    return pages::LogonGuard(limits, [this] { return now_; });
  }
  std::chrono::steady_clock::time_point now_;
};

// That four failures leave an address open, and other addresses stay open, is checked over
// HTTP.
TEST_F(LogonGuardTest, FiveFailuresWithinFifteenMinutesCloseAnAddressUntilASuccess) {
  pages::LogonGuard guard = Guard();
  for (int i = 0; i < 5; ++i, now_ += minutes(1)) guard.RecordFailure("10.0.0.1");
  now_ += minutes(9);  // 14 minutes after the first failure
  EXPECT_TRUE(guard.Closed("10.0.0.1"));
  now_ += minutes(1);  // the first failure has left the window
  EXPECT_FALSE(guard.Closed("10.0.0.1"));
  guard.RecordFailure("10.0.0.1");  // with the four still in the window
  EXPECT_TRUE(guard.Closed("10.0.0.1"));
  guard.RecordSuccess("10.0.0.1");
  EXPECT_FALSE(guard.Closed("10.0.0.1"));
  // Failures spread wider than the window never close an address.
  for (int i = 0; i < 20; ++i, now_ += minutes(4)) guard.RecordFailure("10.0.0.3");
  EXPECT_FALSE(guard.Closed("10.0.0.3"));
}

TEST_F(LogonGuardTest, TracksABoundedNumberOfAddresses) {
  pages::LogonGuard guard = Guard({.failures = 2, .addresses = 3});
  for (const char* address : {"a", "b", "a", "c", "d"}) guard.RecordFailure(address);
  // "d" was a fourth address: "b", the least recent to fail, was forgotten.
  EXPECT_TRUE(guard.Closed("a"));
  guard.RecordFailure("b");  // counts from one again; now "a" is the least recent to fail
  EXPECT_FALSE(guard.Closed("b"));
  EXPECT_FALSE(guard.Closed("a"));
}

TEST_F(LogonGuardTest, HashSlotsAreOneFewerThanTheThreadsAndNeverWait) {
  for (const auto& [threads, slots] : {std::pair{1u, 1u}, {2u, 1u}, {8u, 7u}}) {
    EXPECT_EQ(pages::LogonGuard::HashSlotsFor(threads), slots) << threads;
  }
  EXPECT_GE(pages::LogonGuard::HashSlotsFor(0), 1u);  // 0: as many as the machine has
  pages::LogonGuard guard = Guard({.hash_slots = 2});
  auto first = guard.TryHashSlot();
  auto second = guard.TryHashSlot();
  ASSERT_TRUE(first && second);
  EXPECT_FALSE(guard.TryHashSlot());
  first.reset();
  EXPECT_TRUE(guard.TryHashSlot());
}

}  // namespace
}  // namespace tessaly::admin
