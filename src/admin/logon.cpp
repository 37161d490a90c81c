#include <optional>

#include "admin/admin.h"
#include "admin/links.h"
#include "admin/passwords.h"
#include "pages/guards.h"
#include "pages/html.h"
#include "pages/message.h"
#include "pages/request_values.h"

namespace tessaly::admin {
namespace {

constexpr std::string_view kLogonError = "登陆错误";

void WrongAccount(const pages::PageContext& page) {
  pages::ShowMessage(page.response, kLogonError, "<b>账号</b> 或 <b>密码</b> 错误！",
                     pages::MessageButtons::kBack);
}

struct Account {
  bool found = false;
  std::string name, stored;
};

// Read and closed before the hash starts: no connection is held for the hash's duration.
Account FindAccount(const pages::PageContext& page, const std::string& name) {
  auto rs = page.database.Open(
      {"SELECT USERNAME, PASSWORD FROM USERTB WHERE USERNAME = ?", {name}, "USERTB"});
  Account account;
  if (rs->AbsolutePosition() != -1) {
    account = {true, rs->Field("USERNAME").ToText(), rs->Field("PASSWORD").ToText()};
  }
  rs->Close();
  return account;
}

// Checks `typed` and, when the account's stored form is clear text or out of date, makes the
// hash that replaces it. Returns the stored form after the logon; none for a wrong password.
std::optional<std::string> CheckAndRehash(const Account& account, const std::string& typed) {
  if (!account.found) {
    CheckWithoutAccount(typed);
    return std::nullopt;
  }
  switch (CheckPassword(account.stored, typed)) {
    case PasswordCheck::kWrong:
      return std::nullopt;
    case PasswordCheck::kRight:
      return account.stored;
    case PasswordCheck::kRightStoreAgain:
      return HashPassword(typed);
  }
  return std::nullopt;
}

}  // namespace

void DoLogon(const pages::PageContext& page) {
  using pages::LogonRefusal;
  auto refuse = [&page](LogonRefusal why) { page.logons.CountRefusal(why); };
  if (!pages::RequirePost(page)) return refuse(LogonRefusal::kNotPost);
  if (!pages::RequireOwnOrigin(page)) return refuse(LogonRefusal::kOtherOrigin);
  const std::string name = page.request.Item("username");
  const std::string typed = page.request.Item("password");
  if (pages::TrimSpaces(name).empty() || pages::TrimSpaces(typed).empty()) {
    pages::ShowMessage(page.response, kLogonError, "请输入 账号 和 密码 ！",
                       pages::MessageButtons::kBack);
    return refuse(LogonRefusal::kMissing);
  }
  const std::string address = page.request.ServerVariable("REMOTE_ADDR");
  if (page.logons.Closed(address)) {
    refuse(LogonRefusal::kLockedOut);
    return WrongAccount(page);
  }
  const auto slot = page.logons.TryHashSlot();
  if (!slot) {
    pages::ShowMessage(page.response, kLogonError, kBusyText, pages::MessageButtons::kBack);
    return refuse(LogonRefusal::kBusy);
  }
  const Account account = FindAccount(page, name);
  const auto stored = RunAtLowPriority([&] { return CheckAndRehash(account, typed); });
  if (!stored) {
    page.logons.RecordFailure(address);
    refuse(LogonRefusal::kWrongAccount);
    return WrongAccount(page);
  }
  page.logons.RecordSuccess(address);
  if (*stored != account.stored) {
    // Only where the row still holds what was checked: a password changed meanwhile wins.
    page.database.Command().Execute(
        "UPDATE USERTB SET PASSWORD = ? WHERE USERNAME = ? AND PASSWORD = ?",
        {*stored, account.name, account.stored});
  }
  page.session.LogOn(account.name);
  page.session.SetValue("username", account.name);
  page.session.SetValue("password", *stored);
  WriteControlPanel(page);
}

void WriteControlPanel(const pages::PageContext& page) {
  page.response.Write(
      "<form method='POST' action='" + page.script_name +
      "?action=admin'><table border='0' width='100%' cellspacing='0' cellpadding='0' "
      "height='100%'><tr><td width='100%' align='center'><table border='1' width='300' "
      "cellspacing='0'><tr><td width='100%' bgcolor='#000080'><font "
      "color='#FFFFFF'>控制面板</font></td></tr><tr><td width='100%' bgcolor='#C0C0C0'><br><table "
      "border='0' width='100%' cellspacing='0'><tr><td width='50%' align='center'><input "
      "type='radio' value='add' checked name='do'>增加日志</td><td width='50%' "
      "align='center'><input type='radio' name='do' value='del'>删除日志</td></tr><tr><td "
      "width='50%' align='center'><input type='radio' name='do' value='image'>图片管理</td><td "
      "width='50%' align='center'><input type='radio' name='do' "
      "value='edit'>编辑日志</td></tr><tr><td width='50%' align='center'><input type='radio' "
      "name='do' value='password'>更改密码</td><td width='50%' align='center' "
      "valign='bottom'><font color='#0000FF'>" +
      pages::EscapeHtml(page.texts.site_label) +
      "</font></td></tr></table><p align=center><input type='submit' value=' 确  定 ' name='B1' "
      "style='font-size: 12px'>&nbsp;&nbsp;&nbsp; <input type='button' value=' 关  闭 ' "
      "name='B2' onclick='javascript:window.close()' style='font-size: "
      "12px'><br><br></td></tr></table></td></tr></table></form>");
}

}  // namespace tessaly::admin
