#include "component/log.h"
#include "pages/date_format.h"
#include "pages/list_head.h"

namespace tessaly {

// The block of the newest entries that other pages embed. Also the answer to any request that
// names no known action.
void LOG::WriteHotNews() {
  sql_text_ = {"SELECT ID, TITLE, STIME FROM MESSAGE ORDER BY STIME DESC", {}, "MESSAGE", true};
  OpenRecordset();
  data::Recordset& rs = *log_recordset_;
  if (rs.AbsolutePosition() == -1) {
    response().Write("没有日志");
    return;
  }

  // Embedded in a page outside the database's folder, the links go to the page of the same
  // name inside that folder, relative to the embedding page.
  if (script_name_.find("/" + web_path_ + "/") == std::string::npos) {
    const std::size_t slash = script_name_.rfind('/');
    script_name_ = web_path_ + "/" +
                   (slash == std::string::npos ? script_name_ : script_name_.substr(slash + 1));
  }

  response().Write(pages::ListHead("<div>", script_name_));
  while (!(rs.AbsolutePosition() >= std::int64_t{hot_news_rcs_} + 1 || rs.Eof())) {
    response().Write(pages::ListRow(rs.Field("ID").ToText(), rs.Field("TITLE").ToText(),
                                    pages::FormatDate(rs.Field("STIME").ToText())));
    rs.MoveNext();
  }
  if (rs.RecordCount() > hot_news_rcs_) {
    response().Write("<br><br><a target=_blank href=" + script_name_ +
                     "?action=list><font color=#ff0000>更多的网站日志...</font></a>");
  }
  rs.Close();
  response().Write("</font></div>");
}

}  // namespace tessaly
