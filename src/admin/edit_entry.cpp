#include <memory>

#include "admin/admin.h"
#include "admin/entry_form.h"
#include "admin/links.h"
#include "pages/guards.h"
#include "pages/html.h"
#include "pages/message.h"
#include "pages/request_values.h"

namespace tessaly::admin {
namespace {

// The row of the entry that "id" names, for a logged-on POST. Null when the page has been
// answered already: the login form or the refusal of the guards, the control panel when no
// entry was chosen, the refusal when "id" is not a whole number, and a message ending in
// `missing` when no entry has that id.
std::unique_ptr<data::Recordset> ChosenEntry(const pages::PageContext& page,
                                             std::string_view missing) {
  if (!pages::RequireLogin(page) || !pages::RequireOwnOrigin(page) || !pages::RequirePost(page)) {
    return nullptr;
  }
  const std::string item = page.request.Item("id");
  const std::string_view chosen = pages::TrimSpaces(item);
  if (chosen.empty()) {
    WriteControlPanel(page);
    return nullptr;
  }
  const auto id = pages::ParseWholeNumber(chosen);
  if (!id) {
    pages::ShowMessage(page.response, pages::kRefusalTitle, pages::kRefusalText,
                       pages::MessageButtons::kClose);
    return nullptr;
  }
  auto rs =
      page.database.Open({"SELECT ID, TITLE, CONTENT FROM MESSAGE WHERE ID = ?", {*id}, "MESSAGE"});
  if (rs->AbsolutePosition() != -1) return rs;
  rs->Close();
  pages::ShowMessage(page.response, "非法操作", missing, pages::MessageButtons::kClose);
  return nullptr;
}

// A browser drops one line break right after a text area's opening tag; one more is written
// before a content that starts with a line break, so that the content posts back unchanged.
std::string TextAreaContent(std::string_view content) {
  std::string escaped = pages::EscapeHtml(content);
  if (content.starts_with('\r') || content.starts_with('\n')) escaped.insert(0, "\r\n");
  return escaped;
}

}  // namespace

void WriteEditForm(const pages::PageContext& page) {
  auto rs = ChosenEntry(page, "该则日志不存");
  if (!rs) return;
  const std::string id = rs->Field("ID").ToText();
  const std::string title = text::DecodeText(rs->Field("TITLE").ToText());
  const std::string content = text::HtmlToMarkup(rs->Field("CONTENT").ToText());
  rs->Close();
  page.response.Write(EntryForm(AdminUrl(page, "update") + "&id=" + id, "编辑日志",
                                "maxlength='50' value='" + pages::EscapeHtml(title) + "'",
                                TextAreaContent(content), "这则日志使用了：MIRTA 标记<br>"));
  page.session.SetTimeout(120);
}

void DoUpdateEntry(const pages::PageContext& page) {
  auto rs = ChosenEntry(page, "该则新闻不存");
  if (!rs) return;
  rs->SetField("TITLE", StoredTitle(page.request.Item("title")));
  rs->SetField("CONTENT", StoredContent(page.request.Item("content"), page.script_name));
  rs->Update();
  rs->Close();
  pages::ShowMessage(page.response, "编辑成功", "你所要编辑的日志已更新",
                     pages::MessageButtons::kBackTo, AdminUrl(page, "edit"));
  page.session.SetTimeout(20);
}

}  // namespace tessaly::admin
