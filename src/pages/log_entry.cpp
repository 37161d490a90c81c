#include <charconv>
#include <optional>

#include "component/log.h"
#include "pages/date_format.h"
#include "pages/html.h"

namespace tessaly {
namespace {

// Only a whole number can name an entry; anything else names none.
std::optional<std::int64_t> ParseId(const std::string& text) {
  std::int64_t id = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return id;
}

constexpr const char* kCrLf = "\r\n";

}  // namespace

// One entry as a whole document, for the pop-up window that the lists open.
void LOG::ShowLogEntry() {
  const auto id = ParseId(request().Item("id"));
  if (!id) {
    ShowMessage("日志读取错误", "该日志不存在", 3);
    return;
  }
  sql_text_ = {"SELECT TITLE, CONTENT, STIME FROM MESSAGE WHERE ID = ?", {*id}, "MESSAGE"};
  OpenRecordset();
  data::Recordset& rs = *log_recordset_;
  if (rs.AbsolutePosition() == -1) {
    ShowMessage("日志读取错误", "该日志不存在", 3);
    rs.Close();
    return;
  }
  response().Write(
      "<html><head><title>" + pages::EscapeHtml(texts_.site_label) +
      " 网站日志系统</title><style>" + kCrLf +
      "A:hover {color: #FF0000; text-decoration: underline}" + kCrLf + "A {text-decoration: none}" +
      kCrLf + "</style></head><body bgcolor=#CD9BFF text=#FFFF00><b>" + rs.Field("TITLE").ToText() +
      "</b><p style='font-size:16px'>" + rs.Field("CONTENT").ToText() +
      "</p><em><font style='font-size:12px'>" + pages::FormatDateTime(rs.Field("STIME").ToText()) +
      "</font></em><br><br><input type='button' value='关    闭 ' "
      "onclick='javascript:window.close()' style='font-size:12px'><br><br>");
  response().Write(Footer() + "</body></html>");
  rs.Close();
}

}  // namespace tessaly
