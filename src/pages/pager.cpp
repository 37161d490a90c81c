#include "pages/pager.h"

#include <charconv>
#include <string>

#include "pages/html.h"
#include "text/replace.h"

namespace tessaly::pages {
namespace {

std::int64_t StoredPage(const std::string& text) {
  std::int32_t page = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), page);
  return ec == std::errc() && ptr == text.data() + text.size() ? page : 0;
}

}  // namespace

PageChoice ChoosePage(std::int64_t page_count, const host::Request& request,
                      const host::Session& session) {
  PageChoice choice;
  choice.count = page_count;
  const std::string move = request.Item("move");
  if (move == "previous") {
    choice.page = StoredPage(session.Value(host::kPageItem)) - 1;
  } else if (move == "next") {
    choice.page = StoredPage(session.Value(host::kPageItem)) + 1;
  } else if (move == "last") {
    choice.page = choice.count;
  }
  if (choice.page < 1) choice.page = 1;
  if (choice.page > choice.count) choice.page = choice.count;
  return choice;
}

void RememberPage(const PageChoice& choice, host::Session& session) {
  session.SetValue(host::kPageItem, std::to_string(choice.page));
}

PageChoice SelectPage(data::Recordset& rs, std::int64_t rows_per_page, const host::Request& request,
                      host::Session& session) {
  rs.SetPageSize(rows_per_page);
  const PageChoice choice = ChoosePage(rs.PageCount(), request, session);
  rs.SetAbsolutePage(choice.page);
  RememberPage(choice, session);
  return choice;
}

std::string PagerLinkBase(const PageContext& page, std::string_view pager_query) {
  std::string base = page.script_name + "?";
  const std::string query = page.request.QueryString();
  if (query.empty()) return base;
  std::string q = query + std::string(pager_query);
  for (std::string_view move : {"move=first", "move=previous", "move=next", "move=last"}) {
    q = text::ReplaceAll(q, move, "");
  }
  q = EncodeForLink(q);
  if (!q.empty() && q.back() != '&') q += '&';
  return base + q;
}

void WritePager(const PageContext& page, const PageChoice& choice, std::string_view pager_query) {
  const std::string base = PagerLinkBase(page, pager_query);
  page.response.Write(
      "<br><center><input type=button value='|<< ' onclick=javascript:location.href='" + base +
      "move=first' style='color: #0000FF; font-family: Symbol'><input type=button value='  <  ' "
      "onclick=javascript:location.href='" +
      base +
      "move=previous' style='color: #0000FF; font-family: Symbol'><input type=button value='  > "
      " ' onclick=javascript:location.href='" +
      base +
      "move=next' style='color: #0000FF; font-family: Symbol'><input type=button value=' >>|' "
      "onclick=javascript:location.href='" +
      base +
      "move=last' style='color: #0000FF; font-family: Symbol'></center><div "
      "style=color:#ff0000;margin-left:520px;margin-top:-18px>" +
      std::to_string(choice.page) + "/" + std::to_string(choice.count) + "</div><p>");
}

}  // namespace tessaly::pages
