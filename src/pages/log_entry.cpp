#include "pages/date_format.h"
#include "pages/footer.h"
#include "pages/html.h"
#include "pages/message.h"
#include "pages/output_cache.h"
#include "pages/public_pages.h"
#include "pages/request_values.h"

namespace tessaly::pages {
namespace {

void WriteNoSuchEntry(const PageContext& page) {
  ShowMessage(page.response, "日志读取错误", "该日志不存在", MessageButtons::kClose);
}

void RenderEntry(const PageContext& page, std::int64_t id) {
  auto rs = page.database.Open(
      {"SELECT TITLE, CONTENT, STIME FROM MESSAGE WHERE ID = ?", {id}, "MESSAGE"});
  if (rs->AbsolutePosition() == -1) return WriteNoSuchEntry(page);
  page.response.Write(
      "<html><head><title>" + EscapeHtml(page.texts.site_label) +
      " 网站日志系统</title><style>\r\n"
      "A:hover {color: #FF0000; text-decoration: underline}\r\nA {text-decoration: none}\r\n"
      "</style></head><body bgcolor=#CD9BFF text=#FFFF00><b>" +
      rs->Field("TITLE").ToText() + "</b><p style='font-size:16px'>" +
      rs->Field("CONTENT").ToText() + "</p><em><font style='font-size:12px'>" +
      FormatDateTime(rs->Field("STIME").ToText()) +
      "</font></em><br><br><input type='button' value='关    闭 ' "
      "onclick='javascript:window.close()' style='font-size:12px'><br><br>");
  page.response.Write(Footer(page.texts) + "</body></html>");
  rs->Close();
}

}  // namespace

void ShowLogEntry(const PageContext& page) {
  // Only a whole number can name an entry; anything else never reaches the database.
  const auto id = ParseWholeNumber(page.request.Item("id"));
  if (!id) return WriteNoSuchEntry(page);
  WriteCached(page, CacheKey("show").Add(*id).str(),
              [id = *id](const PageContext& p, const OneState&) { RenderEntry(p, id); });
}

}  // namespace tessaly::pages
