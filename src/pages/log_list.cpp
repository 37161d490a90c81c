#include "component/log.h"
#include "pages/date_format.h"
#include "pages/list_head.h"

namespace tessaly {

// The public list of every entry, newest first, 25 to a page.
void LOG::WriteLogList() {
  sql_text_ = {"SELECT ID, TITLE, STIME FROM MESSAGE ORDER BY STIME DESC", {}, "MESSAGE", true};
  OpenRecordset();
  data::Recordset& rs = *log_recordset_;
  if (rs.AbsolutePosition() != 1) {
    ShowMessage("缺少资料", "没有网站日志", 3);
    return;
  }
  response().Write(pages::ListHead("<div style='background-color:#F7EEFF'>", script_name_));
  rows_per_page_ = 25;
  SelectPage();
  rows_written_ = 0;
  response().Write(
      "<style>\r\nA:hover {color: #FF0000; text-decoration: underline}\r\n"
      "A {text-decoration: none}\r\n</style>");
  while (rows_written_ < rows_per_page_ && !rs.Eof()) {
    response().Write(pages::ListRow(rs.Field("ID").ToText(), rs.Field("TITLE").ToText(),
                                    pages::FormatDateTime(rs.Field("STIME").ToText())));
    ++rows_written_;
    rs.MoveNext();
  }
  rs.Close();
  response().Write("</font></div><br>");
  if (page_total_ > 1) WritePager();
  response().Write(Footer());
}

}  // namespace tessaly
