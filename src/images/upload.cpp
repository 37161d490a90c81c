#include <optional>
#include <string>

#include "base/errors.h"
#include "base/utf8.h"
#include "images/image_pages.h"
#include "images/upload_body.h"
#include "pages/guards.h"
#include "pages/message.h"

namespace tessaly::images {
namespace {

using pages::MessageButtons;
using pages::PageContext;

bool IsPictureType(std::string_view type) {
  return type == "image/gif" || type == "image/pjpeg" || type == "image/jpeg";
}

// The longest name kept, in bytes: what a file system takes as one name, and short enough
// that the picture's address and the list page that links it stay ordinary in size.
constexpr std::size_t kMaxNameBytes = 255;

// A name that every place it goes can take as it is: UTF-8 text without control characters,
// and without the characters that a query value, a link, a quoted attribute or a folder path
// would read as syntax (the space, & + % ' and also < > " # \); not empty, since an empty name
// could never be asked for, and at most kMaxNameBytes long.
bool IsStorableName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameBytes) return false;
  constexpr std::string_view kRefused = " &+%'<>\"#\\";
  while (!name.empty()) {
    const auto c = static_cast<unsigned char>(name.front());
    if (c < 0x20 || c == 0x7F || kRefused.find(name.front()) != std::string_view::npos) {
      return false;
    }
    const std::size_t length = utf8::SequenceLength(name);
    if (length == 0) return false;
    name.remove_prefix(length);
  }
  return true;
}

// What a parsing step takes from the body, or nothing when the body cannot be taken apart there
// (upload_body.h): a post that is not what the form sends, answered as the form's own error.
template <typename Step>
auto Taken(Step step) -> std::optional<decltype(step())> {
  try {
    return step();
  } catch (const InvalidArgument&) {
    return std::nullopt;
  }
}

void ShowBadFile(const PageContext& page) {
  pages::ShowMessage(page.response, "文件错误", "请不要使用特殊符号如：&、+、%、'",
                     MessageButtons::kBack);
}

void ShowDuplicate(const PageContext& page, std::string_view name) {
  pages::ShowMessage(page.response, "文件名重复或该图像已存在",
                     "请将图像文件改名或确认该<a target=_blank href='" +
                         PictureLink(page.script_name, name) + "'>图片</a>",
                     MessageButtons::kBack);
}

bool IsStored(const PageContext& page, const std::string& name) {
  auto rs = page.database.Open({"SELECT ID FROM IMAGE WHERE NAME = ?", {name}, "IMAGE"});
  const bool found = rs->AbsolutePosition() != -1;
  rs->Close();
  return found;
}

}  // namespace

void DoUpload(const PageContext& page) {
  if (!pages::RequireOwnOrigin(page)) return;
  // The limit is on the whole body, framing included; it is checked before the body is read
  // or parsed, so that a refused upload costs no copy of it.
  const std::int64_t size = page.request.TotalBytes();
  if (size > page.image_size) {
    pages::ShowMessage(page.response, "文件过大", "请将文件缩小或另选文件", MessageButtons::kBack);
    return;
  }
  const std::string body = page.request.BinaryRead(size);
  const UploadBody upload(body);

  // A first part that declares no type declares none of the picture types.
  const auto type = Taken([&upload] { return upload.ContentType(); });
  if (!type || !IsPictureType(*type)) {
    pages::ShowMessage(page.response, "该图像文件类型不被支持",
                       "请选择文件类型为 *.gif 或 *.jpg 的图像文件", MessageButtons::kBack);
    return;
  }
  const auto taken_name = Taken([&upload] { return upload.FileName(); });
  if (!taken_name) {
    page.response.SetStatus(400);
    return ShowBadFile(page);
  }
  const std::string& name = *taken_name;
  if (!IsStorableName(name)) return ShowBadFile(page);
  if (IsStored(page, name)) return ShowDuplicate(page, name);
  // No blank line after the first part's headers, or no part after the file.
  const auto bytes = Taken([&upload] { return upload.FileBytes(); });
  if (!bytes) {
    page.response.SetStatus(400);
    return ShowBadFile(page);
  }

  // The unique index on NAME decides between two uploads of one name that both passed the
  // check above: the later insert changes nothing and gets the same answer as the check.
  const std::int64_t added = page.database.Command().Execute(
      "INSERT INTO IMAGE (NAME, TYPE, DATA) VALUES (?, ?, ?) ON CONFLICT DO NOTHING",
      {name, *type, data::Blob{std::string(*bytes)}});
  if (added == 0) return ShowDuplicate(page, name);

  const std::string& script = page.script_name;
  pages::ShowMessage(page.response, "图片上传成功",
                     "<img src='" + PictureLink(script, name) + "'><br><br><a href=" + script +
                         "?action=admin&do=image&for=upload>继续上传图片</a>",
                     MessageButtons::kBackTo, script + "?action=admin&do=image");
  page.response.End();
}

}  // namespace tessaly::images
