// The pop-up script that the hot news block and the log list both start with.
#ifndef TESSALY_PAGES_LIST_HEAD_H_
#define TESSALY_PAGES_LIST_HEAD_H_

#include <string>

namespace tessaly::pages {

// `opening` is the block's opening div; the rest opens the entry page in a small window.
inline std::string ListHead(const std::string& opening, const std::string& script_name) {
  return opening +
         "<font style='font-size:14px'>网站纪事：</font><Script Language=JavaScript>\r\n"
         "function openwin(id){\r\nwindow.open('" +
         script_name +
         "?action=show&id='+id,'','resizable=yes,scrollbars=yes,height=400,width=300');\r\n"
         "}</Script>\r\n<font style='font-size:12px'>";
}

// One entry of a list: its title opening the pop-up, then its time in brackets.
inline std::string ListRow(const std::string& id, const std::string& title,
                           const std::string& when) {
  return "<li type='square'><a href='javascript:openwin(" + id + ")'>" + title +
         "</a> <font color=#CA95FF>(" + when + ")</font></li>";
}

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_LIST_HEAD_H_
