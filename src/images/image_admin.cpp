#include <array>
#include <string>
#include <utility>

#include "images/image_pages.h"
#include "images/images.h"
#include "pages/date_format.h"
#include "pages/guards.h"
#include "pages/html.h"
#include "pages/message.h"
#include "pages/pager.h"
#include "pages/request_values.h"

namespace tessaly::images {
namespace {

using pages::MessageButtons;
using pages::PageContext;

// The pages by "for" (exact, case-sensitive); any other value, or none, gives the list.
constexpr std::array<std::pair<std::string_view, pages::PageFunction>, 4> kPages{{
    {"delimage", DoDeleteImages},
    {"upload", WriteUploadForm},
    {"doupload", DoUpload},
    {"list", WriteImageList},
}};

std::string ListHead(const std::string& script_name) {
  return "<form method='POST' action='" + script_name +
         "?action=admin&do=image&for=delimage'><table border='0' width='100%' height='100%' "
         "cellspacing='0' cellpadding='0'><tr><td width='100%' align='center'><table border='0' "
         "width='90%' cellspacing='1' style='font-size: 12px'><tr><td align='center' "
         "bgcolor='#000080'><font color='#FFFFFF'>图片名称</font></td><td align='center' "
         "bgcolor='#000080'><font color='#FFFFFF'>图片格式</font></td><td align='center' "
         "bgcolor='#000080'><font color='#FFFFFF'>上传时间</font></td></tr>";
}

std::string ListRow(const data::Recordset& rs, const std::string& script_name) {
  const std::string name = rs.Field("NAME").ToText();
  return "<tr><td bgcolor='#F7F7F7'><div style='position: "
         "absolute;margin-left:-30px;margin-top:-3px'><input type='checkbox' name='id' value=" +
         rs.Field("ID").ToText() + "></div><a target=_blank href='" +
         PictureLink(script_name, name) + "'>" + pages::EscapeHtml(name) +
         "</a></td><td align='center' bgcolor='#F7F7F7'>" +
         pages::EscapeHtml(rs.Field("TYPE").ToText()) +
         "</td><td align='center' bgcolor='#F7F7F7'>" +
         pages::FormatDateTime(rs.Field("STIME").ToText()) + "</td></tr>";
}

// The buttons under the list. "taxon" is carried into the upload link as query text, made
// safe for the script string it ends up in as the pager makes its links.
std::string ListButtons(const PageContext& page) {
  const std::string& script = page.script_name;
  return "<p><input type='submit' value=' 删除图片 ' name='B1' style='font-size: "
         "12px'>&nbsp;&nbsp;&nbsp; <input type='button' value=' 上传图片 ' name='B2' "
         "onclick=\"javascript:location.href='" +
         script + "?action=admin&do=image&for=upload" +
         pages::EncodeForLink(page.request.Item("taxon")) +
         "'\" style='font-size: 12px'>&nbsp;&nbsp;&nbsp; <input type='button' value=' 返    回 ' "
         "name='B2' onclick=\"javascript:location.href='" +
         script + "?action=admin&do=control'\" style='font-size: 12px'></td></tr></table></form>";
}

}  // namespace

void ImageAdmin(const PageContext& page) {
  if (!pages::RequireLogin(page)) return;
  const std::string what = page.request.Item("for");
  for (const auto& [name, function] : kPages) {
    if (name == what) return function(page);
  }
  WriteImageList(page);
}

void WriteImageList(const PageContext& page) {
  constexpr std::int64_t kRowsPerPage = 15;
  const std::string& script = page.script_name;
  // In the order of upload, stated so that pages read in separate batches cannot overlap.
  auto rs = page.database.Open(
      {"SELECT ID, NAME, TYPE, STIME FROM IMAGE ORDER BY ID", {}, "IMAGE", true});
  if (rs->AbsolutePosition() == -1) {
    rs->Close();
    pages::ShowMessage(page.response, "没有可供管理的图片",
                       "[<a href='" + script + "?action=admin&do=image&for=upload'>上传图片</a>]",
                       MessageButtons::kBackTo, script + "?action=admin&do=control");
    return;
  }
  page.response.Write(ListHead(script));
  const pages::PageChoice choice = pages::SelectPage(*rs, kRowsPerPage, page.request, page.session);
  for (std::int64_t rows = 0; rows < kRowsPerPage && !rs->Eof(); ++rows) {
    page.response.Write(ListRow(*rs, script));
    rs->MoveNext();
  }
  rs->Close();
  page.response.Write("</table>");
  // Reached from the control panel's form, "do=image" travels in the body: the pager's links
  // must carry it in their query.
  constexpr std::string_view kDo = "&do=image";
  const bool query_has_do = page.request.QueryString().find(kDo) != std::string::npos;
  if (choice.count > 1) pages::WritePager(page, choice, query_has_do ? std::string_view() : kDo);
  page.response.Write(ListButtons(page));
}

void DoDeleteImages(const PageContext& page) {
  if (!pages::RequireOwnOrigin(page)) return;
  const bool post = page.request.ServerVariable("REQUEST_METHOD") == "POST";
  const auto ids = pages::ParseIdList(page.request.Item("id"));
  if (!post || !ids) return WriteImageList(page);
  page.database.Command().DeleteIds("IMAGE", *ids);
  pages::ShowMessage(page.response, "成功删除图片", "所选择的图片已被删除", MessageButtons::kBackTo,
                     page.script_name + "?action=admin&do=image");
}

void WriteUploadForm(const PageContext& page) {
  const std::string& script = page.script_name;
  page.response.Write(
      "<form method='POST' action='" + script +
      "?action=admin&do=image&for=doupload' enctype='multipart/form-data'><table border='0' "
      "width='100%' height='100%' cellspacing='0' cellpadding='0'><tr><td width='100%' "
      "align='center'><table border='1' width='320' cellspacing='0'><tr><td width='100%' "
      "bgcolor='#000080'><font color='#ffffff'>上传图片</font></td></tr><tr><td width='100%' "
      "bgcolor='#c0c0c0' align='middle'><br><input type='file' name='image' size='20' "
      "style='font-size:12px'><p align='center'><input type='submit' value=' 确  定 ' "
      "name='B1' style='FONT-SIZE: 12px'> &nbsp;&nbsp;&nbsp; <input type='button' value=' 返  "
      "回 ' name='B2' onclick=\"javascript:location.href='" +
      script +
      "?action=admin&do=image'\" style='FONT-SIZE: "
      "12px'><br><br></td></tr></table></td></tr></table></form>");
}

std::string PictureLink(std::string_view script_name, std::string_view name) {
  // '%', '&' and '+' would change what the name decodes to as a query value; EncodeForLink
  // covers what could end the link or the attribute, or form a character reference.
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string value;
  value.reserve(name.size());
  for (char c : name) {
    if (c == '%' || c == '&' || c == '+') {
      value += '%';
      value += kHex[static_cast<unsigned char>(c) >> 4];
      value += kHex[c & 0xF];
    } else {
      value += c;
    }
  }
  return std::string(script_name) + "?action=image&name=" + pages::EncodeForLink(value);
}

}  // namespace tessaly::images
