// The pop-up script that the entry lists (hot news block, log list, the admin lists) start
// with, and their rows.
#ifndef TESSALY_PAGES_LIST_HEAD_H_
#define TESSALY_PAGES_LIST_HEAD_H_

#include <string>
#include <string_view>

namespace tessaly::pages {

// `opening` is the block's opening markup; the rest opens the entry page in a small window
// with `window_features`.
inline std::string ListHead(
    const std::string& opening, const std::string& script_name,
    std::string_view window_features = "resizable=yes,scrollbars=yes,height=400,width=300") {
  return opening +
         "<font style='font-size:14px'>网站纪事：</font><Script Language=JavaScript>\r\n"
         "function openwin(id){\r\nwindow.open('" +
         script_name + "?action=show&id='+id,'','" + std::string(window_features) +
         "');\r\n"
         "}</Script>\r\n<font style='font-size:12px'>";
}

// One entry of a list: `choice` (an input that picks the entry, or nothing), its title opening
// the pop-up, then its time in brackets.
inline std::string ListRow(const std::string& id, const std::string& title, const std::string& when,
                           std::string_view choice = {}) {
  return "<li type='square'>" + std::string(choice) + "<a href='javascript:openwin(" + id + ")'>" +
         title + "</a> <font color=#CA95FF>(" + when + ")</font></li>";
}

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_LIST_HEAD_H_
