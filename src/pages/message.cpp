#include "pages/message.h"

#include <string>

namespace tessaly::pages {
namespace {

constexpr std::string_view kHead =
    "<table border='0' width='100%' height='100%' cellspacing='0' cellpadding='0'><tr><td "
    "width='100%' align='center'><table border='1' width='300' cellspacing='0'><tr><td "
    "width='100%' bgcolor='#000080'><font color=#ffffff>";
constexpr std::string_view kBetween =
    "</font></td></tr><tr><td width='100%' bgcolor='#C0C0C0' style='font-size: 14px'><p "
    "align='center'><br>";
constexpr std::string_view kTail = "<br><br></td></tr></table></td></tr></table>";

constexpr std::string_view kBack =
    "<input type='button' value=' 返  回 ' name='B1' onclick='javascript:history.back()' "
    "style='font-size: 12px'>";
constexpr std::string_view kCloseAlone =
    "<input type='button' value=' 关  闭 ' name='B1' onclick='javascript:window.close()' "
    "style='font-size: 12px'>";
// Between two buttons: three non-breaking spaces and one ordinary space.
constexpr std::string_view kSpacerAndClose =
    "&nbsp;&nbsp;&nbsp; <input type='button' value=' 关  闭 ' name='B2' "
    "onclick='javascript:window.close()' style='font-size: 12px'>";

std::string BackTo(std::string_view url) {
  std::string out =
      "<input type='button' value=' 返  回 ' name='B1' onclick=\"javascript:location.href='";
  out.append(url).append("'\" style='font-size: 12px'>");
  return out;
}

}  // namespace

void ShowMessage(host::Response& response, std::string_view title, std::string_view text,
                 MessageButtons buttons, std::string_view url) {
  std::string head(kHead);
  head.append(title).append(kBetween).append(text).append("<br><br>");
  response.Write(head);
  switch (buttons) {
    case MessageButtons::kBack:
      response.Write(kBack);
      break;
    case MessageButtons::kBackAndClose:
      response.Write(std::string(kBack).append(kSpacerAndClose));
      break;
    case MessageButtons::kClose:
      response.Write(kCloseAlone);
      break;
    case MessageButtons::kBackTo:
      response.Write(BackTo(url));
      break;
    case MessageButtons::kBackToAndClose:
      response.Write(BackTo(url).append(kSpacerAndClose));
      break;
  }
  response.Write(kTail);
}

}  // namespace tessaly::pages
