#include <cstdint>
#include <string>
#include <string_view>

#include "admin/admin.h"
#include "admin/links.h"
#include "pages/date_format.h"
#include "pages/guards.h"
#include "pages/list_head.h"
#include "pages/message.h"
#include "pages/pager.h"
#include "pages/request_values.h"

namespace tessaly::admin {
namespace {

// What tells the delete list and the edit list apart; the rest of the page is the same.
struct EntryList {
  std::string_view sql;
  std::string_view posts_to;     // the "do" that the list's form posts to
  std::string_view input;        // the type of each row's input named "id"
  std::string_view button;       // the label of the submit button
  std::string_view pager_query;  // added to the pager's links unless the query has it
};

constexpr EntryList kDeleteList{"SELECT ID, TITLE, STIME FROM MESSAGE ORDER BY STIME ASC, ID ASC",
                                "dodel", "checkbox", " 删  除 ", "&do=del"};
constexpr EntryList kEditList{"SELECT ID, TITLE, STIME FROM MESSAGE ORDER BY STIME DESC, ID DESC",
                              "doedit", "radio", " 编  辑 ", "&do=edit"};

void WriteEntryList(const pages::PageContext& page, const EntryList& list) {
  constexpr std::int64_t kRowsPerPage = 25;
  auto rs = page.database.Open({std::string(list.sql), {}, "MESSAGE", true});
  if (rs->AbsolutePosition() != 1) {
    pages::ShowMessage(page.response, "缺少资料", "没有网站日志", pages::MessageButtons::kClose);
    return;
  }
  page.response.Write(pages::ListHead("<form method='post' action='" +
                                          AdminUrl(page, list.posts_to) +
                                          "'><div style='background-color:#F7EEFF'>",
                                      page.script_name, "height=450,width=400"));
  const pages::PageChoice choice = pages::SelectPage(*rs, kRowsPerPage, page.request, page.session);
  for (std::int64_t rows = 0; rows < kRowsPerPage && !rs->Eof(); ++rows) {
    const std::string id = rs->Field("ID").ToText();
    page.response.Write(pages::ListRow(
        id, rs->Field("TITLE").ToText(), pages::FormatDateTime(rs->Field("STIME").ToText()),
        "<input type='" + std::string(list.input) + "' name='id' value='" + id + "'>"));
    rs->MoveNext();
  }
  rs->Close();
  page.response.Write("</font><P align='center'><input type='submit' value='" +
                      std::string(list.button) +
                      "' name='B1' style='FONT-SIZE: 12px'> &nbsp;&nbsp;&nbsp; <input "
                      "type='button' value=' 返  回 ' name='B2' "
                      "onclick=\"javascript:location.href='" +
                      AdminUrl(page, "control") + "'\" style='FONT-SIZE: 12px'></P></form></div>");
  if (choice.count > 1) {
    const bool has_query = page.request.QueryString().find(list.pager_query) != std::string::npos;
    pages::WritePager(page, choice, has_query ? std::string_view() : list.pager_query);
  }
}

}  // namespace

void WriteDeleteList(const pages::PageContext& page) { WriteEntryList(page, kDeleteList); }

void WriteEditList(const pages::PageContext& page) { WriteEntryList(page, kEditList); }

void DoDeleteEntries(const pages::PageContext& page) {
  if (!pages::RequireLogin(page) || !pages::RequireOwnOrigin(page) || !pages::RequirePost(page)) {
    return;
  }
  const std::string checked = page.request.Item("id");
  if (pages::TrimSpaces(checked).empty()) return WriteControlPanel(page);
  const auto ids = pages::ParseIdList(checked);
  if (!ids) {
    pages::ShowMessage(page.response, pages::kRefusalTitle, pages::kRefusalText,
                       pages::MessageButtons::kClose);
    return;
  }
  page.database.Command().DeleteIds("MESSAGE", *ids);
  pages::ShowMessage(page.response, "成功删除日志", "所选择的日志已被删除",
                     pages::MessageButtons::kBackToAndClose, AdminUrl(page, "control"));
}

}  // namespace tessaly::admin
