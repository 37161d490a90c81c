#include <charconv>

#include "component/log.h"
#include "pages/html.h"

namespace tessaly {
namespace {

// The page stored in the session; empty or unreadable counts as 0.
std::int64_t StoredPage(const std::string& text) {
  std::int32_t page = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), page);
  return ec == std::errc() && ptr == text.data() + text.size() ? page : 0;
}

void RemoveAll(std::string& text, std::string_view piece) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (std::size_t hit; (hit = text.find(piece, pos)) != std::string::npos;
       pos = hit + piece.size()) {
    out.append(text, pos, hit - pos);
  }
  out.append(text, pos);
  text = std::move(out);
}

}  // namespace

// Chooses the page of the open list from the "move" item and the page the visitor saw last,
// and positions the recordset on it. Called only for a list that has rows.
void LOG::SelectPage() {
  data::Recordset& rs = *log_recordset_;
  rs.SetPageSize(rows_per_page_);
  page_total_ = static_cast<std::int32_t>(rs.PageCount());
  const std::string move = request().Item("move");
  std::int64_t page = 1;
  if (move == "first") {
    page = 1;
  } else if (move == "previous") {
    page = StoredPage(session().Value("tPage")) - 1;
  } else if (move == "next") {
    page = StoredPage(session().Value("tPage")) + 1;
  } else if (move == "last") {
    page = page_total_;
  }
  if (page < 1) page = 1;
  if (page > page_total_) page = page_total_;
  rs.SetAbsolutePage(page);
  session().SetValue("tPage", std::to_string(page));
  rows_written_ = 0;
}

// The navigation bar under a paged list. The links carry the current query with its move
// replaced; the page itself lives in the session.
void LOG::WritePager() {
  std::string base = script_name_ + "?";
  const std::string query = request().QueryString();
  if (!query.empty()) {
    std::string q = query + pager_query_;
    for (std::string_view move : {"move=first", "move=previous", "move=next", "move=last"}) {
      RemoveAll(q, move);
    }
    // The query goes into an unquoted attribute and a quoted script string.
    q = pages::EncodeForLink(q);
    if (!q.empty() && q.back() != '&') q += '&';
    base += q;
  }
  const std::string page = session().Value("tPage");
  response().Write(
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
      page + "/" + std::to_string(page_total_) + "</div><p>");
}

}  // namespace tessaly
