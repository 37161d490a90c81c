// What the add and edit forms share: the editor's markup, and the stored form of what it posts.
#ifndef TESSALY_ADMIN_ENTRY_FORM_H_
#define TESSALY_ADMIN_ENTRY_FORM_H_

#include <string>
#include <string_view>

#include "text/escape.h"
#include "text/markup.h"

namespace tessaly::admin {

// The editor posting to `action_url`, titled `bar`. `title_attributes` go into the title field
// before its style; `content` is the text area's content, already escaped; `note` stands under
// the text area. Every argument is written as given.
inline std::string EntryForm(const std::string& action_url, std::string_view bar,
                             std::string_view title_attributes, std::string_view content,
                             std::string_view note) {
  std::string form =
      "<form method='POST' action='" + action_url +
      "'><table border='0' width='100%' height='100%' cellspacing='0' cellpadding='0'><tr><td "
      "width='100%' align='center'><table border='1' width='95%' cellspacing='0'><tr><td "
      "width='100%' bgcolor='#000080'><font color='#FFFFFF'>";
  form.append(bar).append(
      "</font></td></tr><tr><td width='100%' bgcolor='#C0C0C0'><br>&nbsp; 标题：<input "
      "type='text' name='title' size='86' ");
  form.append(title_attributes)
      .append(
          " style='font-size: 14px'><br><br>&nbsp; <textarea rows='16' name='content' cols='92' "
          "style='font-size: 14px'>");
  form.append(content).append("</textarea><br><br>&nbsp; ").append(note);
  form.append(
      "<p align='center'><input type='submit' value=' 确    定 ' name='B1' style='font-size: "
      "12px'> &nbsp;&nbsp;&nbsp; <input type='button' value=' 返    回 ' name='B2' "
      "onclick='javascript:history.back()' style='font-size: 12px'><br><br></td></tr></table>"
      "</td></tr></table></form>");
  return form;
}

// What TITLE stores for a typed title: escaped only, so tags in a title stay text.
inline std::string StoredTitle(std::string_view typed) { return text::EncodeText(typed); }

// What CONTENT stores for a typed content: escaped, then its markup turned into HTML.
inline std::string StoredContent(std::string_view typed, std::string_view script_name) {
  return text::MarkupToHtml(text::EncodeText(typed), script_name);
}

}  // namespace tessaly::admin

#endif  // TESSALY_ADMIN_ENTRY_FORM_H_
