#include <string>
#include <variant>

#include "images/images.h"
#include "pages/conditional.h"
#include "pages/message.h"

namespace tessaly::images {
namespace {

// A stored picture never changes (there is no way to replace one, and ids are never reused),
// so its id identifies its bytes; the size and upload time guard against rows changed by hand.
// Only digits of the time are kept, so the tag holds nothing but digits and dashes.
std::string EntityTag(const data::Recordset& rs) {
  std::string tag = "\"" + rs.Field("ID").ToText() + "-" + rs.Field("SIZE").ToText() + "-";
  for (char c : rs.Field("STIME").ToText()) {
    if (c >= '0' && c <= '9') tag += c;
  }
  return tag + "\"";
}

std::string_view Bytes(const data::Value& value) {
  if (const auto* blob = std::get_if<data::Blob>(&value.Get())) return blob->bytes;
  if (const auto* text = std::get_if<std::string>(&value.Get())) return *text;
  return {};
}

}  // namespace

void ServeImage(const pages::PageContext& page) {
  const std::string name = page.request.Item("name");
  if (name.empty()) {
    pages::ShowMessage(page.response, "错误请求图像",
                       "正确格式为：" + page.script_name + "?action=image&name=********",
                       pages::MessageButtons::kClose);
    return;
  }
  // The lowest id first, should a file made elsewhere hold one name twice. The bytes are read
  // only when they are sent, not for a browser that already has them.
  auto rs =
      page.database.Open({"SELECT ID, TYPE, STIME, length(DATA) AS SIZE FROM IMAGE WHERE "
                          "NAME = ? ORDER BY ID",
                          {name},
                          "IMAGE"});
  if (rs->AbsolutePosition() == -1) return;  // not stored: an empty answer, no message
  const std::int64_t id = rs->Field("ID").ToInt();
  const std::string type = rs->Field("TYPE").ToText();
  const std::string tag = EntityTag(*rs);
  rs->Close();

  if (pages::ListsEntityTag(page.request.ServerVariable("HTTP_IF_NONE_MATCH"), tag)) {
    page.response.AddHeader("ETag", tag);
    page.response.SetStatus(304);
    return;
  }
  auto data = page.database.Open({"SELECT DATA FROM IMAGE WHERE ID = ?", {id}, "IMAGE"});
  if (data->AbsolutePosition() == -1) return;  // deleted meanwhile: as if never stored
  page.response.SetContentType(type);
  page.response.AddHeader("X-Content-Type-Options", "nosniff");
  page.response.AddHeader("ETag", tag);
  page.response.BinaryWrite(Bytes(data->Field("DATA")));
  data->Close();
}

}  // namespace tessaly::images
