#include "admin/admin.h"
#include "admin/links.h"
#include "admin/passwords.h"
#include "pages/guards.h"
#include "pages/message.h"
#include "pages/request_values.h"

namespace tessaly::admin {

void WritePasswordForm(const pages::PageContext& page) {
  page.response.Write(
      "<form method='POST' action='" + AdminUrl(page, "dopassword") +
      "'><table border='0' width='100%' cellspacing='0' cellpadding='0' height='100%'><tr><td "
      "width='100%' align='center'><table border='1' width='300' cellspacing='0'><tr><td "
      "width='100%' bgcolor='#000080'><font color='#FFFFFF'>更改密码</font></td></tr><tr><td "
      "width='100%' bgcolor='#C0C0C0'><center><br>新的密码 <input type='password' "
      "name='password' size='20'><br>核验密码 <input type='password' name='chkpassword' "
      "size='20'><br><br><input type='submit' value=' 确    定 ' name='B1' style='font-size: "
      "12px'><br><br></td></tr></table></td></tr></table></form>");
}

// No request-method guard: a link carrying both items changes the password too, when it is
// followed from this site's own pages; one on a page of another origin is refused. An empty
// password is refused, as the logon would never accept it again.
void DoChangePassword(const pages::PageContext& page) {
  if (!pages::RequireLogin(page) || !pages::RequireOwnOrigin(page)) return;
  constexpr std::string_view kChangeError = "密码更改错误";
  const std::string password = page.request.Item("password");
  if (pages::TrimSpaces(page.request.Item("chkpassword")) != pages::TrimSpaces(password)) {
    pages::ShowMessage(page.response, kChangeError,
                       "请核实 <b>密码</b> 和 <b>校验密码</b> 是否相同",
                       pages::MessageButtons::kBack);
    return;
  }
  if (pages::TrimSpaces(password).empty()) {
    pages::ShowMessage(page.response, kChangeError, "请输入 <b>新的密码</b> ！",
                       pages::MessageButtons::kBack);
    return;
  }
  const auto slot = page.logons.TryHashSlot();
  if (!slot) {
    pages::ShowMessage(page.response, kChangeError, kBusyText, pages::MessageButtons::kBack);
    return;
  }
  const std::string hash = RunAtLowPriority([&] { return HashPassword(password); });
  const std::string account = page.session.Value("username");
  page.database.Command().Execute("UPDATE USERTB SET PASSWORD = ? WHERE USERNAME = ?",
                                  {hash, account});
  page.session.SetValue("password", hash);
  // Whoever held the old password holds no session of the account any longer.
  page.session.EndOtherSessions(account);
  pages::ShowMessage(page.response, "成功更新", "密码已更新成功了！",
                     pages::MessageButtons::kBackToAndClose, AdminUrl(page, "control"));
}

}  // namespace tessaly::admin
