#include "pages/guards.h"

#include "pages/message.h"

namespace tessaly::pages {

void WriteLoginForm(const PageContext& page) {
  page.response.Write(
      "<form method='POST' action='" + page.script_name +
      "?action=admin&do=logon'><table border='0' width='100%' height='100%' cellspacing='0' "
      "cellpadding='0'><tr><td width='100%' align='center'><table border='1' width='300' "
      "cellspacing='0'><tr><td width='100%' bgcolor='#000080'><font "
      "color='#FFFFFF'>登陆</font></td></tr><tr><td width='100%' bgcolor='#C0C0C0' "
      "align='center'><br><font color='#0000FF'>账号</font> <input type='text' name='username' "
      "size='20'><br><font color='#0000FF'>密码</font> <input type='password' name='password' "
      "size='20'><br><br><input type='submit' value=' 确  定 ' name='B1' style='font-size: "
      "12px'>&nbsp;&nbsp;&nbsp; <input type='button' value=' 关  闭 ' name='B2' "
      "onclick='javascript:window.close();' style='font-size: "
      "12px'><br><br></td></tr></table></td></tr></table></form>");
}

bool RequireLogin(const PageContext& page) {
  if (!page.session.Value("username").empty()) return true;
  WriteLoginForm(page);
  return false;
}

bool RequireOwnOrigin(const PageContext& page) {
  if (!page.request.FromOtherOrigin()) return true;
  ShowMessage(page.response, kRefusalTitle, kRefusalText, MessageButtons::kClose);
  return false;
}

bool RequirePost(const PageContext& page) {
  if (page.request.ServerVariable("REQUEST_METHOD") == "POST") return true;
  ShowMessage(page.response, kRefusalTitle, kRefusalText, MessageButtons::kClose);
  return false;
}

}  // namespace tessaly::pages
