#include "admin/admin.h"
#include "admin/entry_form.h"
#include "admin/links.h"
#include "pages/guards.h"
#include "pages/message.h"
#include "pages/request_values.h"

namespace tessaly::admin {

void WriteAddForm(const pages::PageContext& page) {
  page.session.SetTimeout(120);
  page.response.Write(EntryForm(AdminUrl(page, "doadd"), "增加日志", "maxlength='30'", "",
                                "<font color=#ff0000 style='font-size:12px'>本日志系统支持 "
                                "MIRTA</font>"));
}

void DoAddEntry(const pages::PageContext& page) {
  if (!pages::RequireLogin(page) || !pages::RequireOwnOrigin(page)) return;
  if (!pages::RequirePost(page)) {
    page.session.Abandon();
    return;
  }
  const std::string typed_title = page.request.Item("title");
  const std::string typed_content = page.request.Item("content");
  if (pages::TrimSpaces(typed_title).empty() || pages::TrimSpaces(typed_content).empty()) {
    pages::ShowMessage(page.response, "资料不全", "日志的 <b>标题</b> 和 <b>内容</b> 是必填的",
                       pages::MessageButtons::kBack);
    return;
  }
  const std::string title = StoredTitle(typed_title);
  const std::string content = StoredContent(typed_content, page.script_name);
  // Only the newest entry is compared: a form sent twice is caught, an older text may recur.
  // Entries of the same instant are told apart by their ids.
  auto rs = page.database.Open(
      {"SELECT ID, TITLE, CONTENT FROM MESSAGE ORDER BY STIME DESC, ID DESC", {}, "MESSAGE", true});
  if (rs->AbsolutePosition() != -1 && rs->Field("TITLE").ToText() == title &&
      rs->Field("CONTENT").ToText() == content) {
    rs->Close();
    pages::ShowMessage(page.response, "资料重复", "该日志已存在", pages::MessageButtons::kBackTo,
                       AdminUrl(page, "add"));
    return;
  }
  rs->AddNew();
  rs->SetField("TITLE", title);
  rs->SetField("CONTENT", content);
  rs->Update();
  rs->Close();
  pages::ShowMessage(page.response, "成功增加日志",
                     "<a href=" + AdminUrl(page, "add") + ">继续增加日志</a>",
                     pages::MessageButtons::kBackTo, AdminUrl(page, "control"));
  page.session.SetTimeout(20);
}

}  // namespace tessaly::admin
