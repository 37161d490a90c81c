#include "component/log.h"

namespace tessaly {

// The framed message box through which every page reports an error or a success. Title, text
// and url are written as given: callers pass fixed HTML and self-links only.
void LOG::ShowMessage(const std::string& title, const std::string& text, int kind,
                      const std::string& url) {
  response().Write(
      "<table border='0' width='100%' height='100%' cellspacing='0' cellpadding='0'><tr><td "
      "width='100%' align='center'><table border='1' width='300' cellspacing='0'><tr><td "
      "width='100%' bgcolor='#000080'><font color=#ffffff>" +
      title +
      "</font></td></tr><tr><td width='100%' bgcolor='#C0C0C0' style='font-size: 14px'><p "
      "align='center'><br>" +
      text + "<br><br>");

  static const std::string kBack =
      "<input type='button' value=' 返  回 ' name='B1' onclick='javascript:history.back()' "
      "style='font-size: 12px'>";
  static const std::string kSpacer = "&nbsp;&nbsp;&nbsp; ";
  static const std::string kClose2 =
      "<input type='button' value=' 关  闭 ' name='B2' onclick='javascript:window.close()' "
      "style='font-size: 12px'>";
  const std::string back_to_url =
      "<input type='button' value=' 返  回 ' name='B1' onclick=\"javascript:location.href='" + url +
      "'\" style='font-size: 12px'>";
  switch (kind) {
    case 2:
      response().Write(kBack + kSpacer + kClose2);
      break;
    case 3:
      response().Write(
          "<input type='button' value=' 关  闭 ' name='B1' onclick='javascript:window.close()' "
          "style='font-size: 12px'>");
      break;
    case 4:
      response().Write(back_to_url);
      break;
    case 5:
      response().Write(back_to_url + kSpacer + kClose2);
      break;
    default:
      response().Write(kBack);
  }

  response().Write("<br><br></td></tr></table></td></tr></table>");
}

}  // namespace tessaly
