#include "pages/date_format.h"
#include "pages/footer.h"
#include "pages/list_head.h"
#include "pages/message.h"
#include "pages/pager.h"
#include "pages/public_pages.h"

namespace tessaly::pages {

void WritePublicList(const PageContext& page, data::Recordset& rs) {
  constexpr std::int64_t kRowsPerPage = 25;
  page.response.Write(ListHead("<div style='background-color:#F7EEFF'>", page.script_name));
  const PageChoice choice = SelectPage(rs, kRowsPerPage, page.request, page.session);
  page.response.Write(
      "<style>\r\nA:hover {color: #FF0000; text-decoration: underline}\r\n"
      "A {text-decoration: none}\r\n</style>");
  for (std::int64_t rows = 0; rows < kRowsPerPage && !rs.Eof(); ++rows) {
    page.response.Write(ListRow(rs.Field("ID").ToText(), rs.Field("TITLE").ToText(),
                                FormatDateTime(rs.Field("STIME").ToText())));
    rs.MoveNext();
  }
  rs.Close();
  page.response.Write("</font></div><br>");
  if (choice.count > 1) WritePager(page, choice);
  page.response.Write(Footer(page.texts));
}

void WriteLogList(const PageContext& page) {
  auto rs = page.database.Open(
      {"SELECT ID, TITLE, STIME FROM MESSAGE ORDER BY STIME DESC", {}, "MESSAGE", true});
  if (rs->AbsolutePosition() != 1) {
    ShowMessage(page.response, "缺少资料", "没有网站日志", MessageButtons::kClose);
    return;
  }
  WritePublicList(page, *rs);
}

}  // namespace tessaly::pages
