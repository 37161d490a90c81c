#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

#include "pages/date_format.h"
#include "pages/footer.h"
#include "pages/list_anchors.h"
#include "pages/list_head.h"
#include "pages/message.h"
#include "pages/output_cache.h"
#include "pages/pager.h"
#include "pages/public_pages.h"

namespace tessaly::pages {
namespace {

// The entries in the log, by the row counter that the file's triggers keep.
std::int64_t CountEntries(const PageContext& page) {
  return page.database.Open({"SELECT N FROM ROW_COUNT WHERE NAME = 'MESSAGE'", {}, ""})
      ->Field("N")
      .ToInt();
}

// The list after its head, for `rs` positioned on the page's first row (or none at all when
// the page has no rows): the link style, the page's rows, the pager and the footer.
void WriteListRows(const PageContext& page, data::Recordset* rs, const PageChoice& choice,
                   std::optional<std::string_view> pager_base = std::nullopt) {
  page.response.Write(
      "<style>\r\nA:hover {color: #FF0000; text-decoration: underline}\r\n"
      "A {text-decoration: none}\r\n</style>");
  for (std::int64_t rows = 0; rs && rows < kListRowsPerPage && !rs->Eof(); ++rows) {
    page.response.Write(ListRow(rs->Field("ID").ToText(), rs->Field("TITLE").ToText(),
                                FormatDateTime(rs->Field("STIME").ToText())));
    rs->MoveNext();
  }
  if (rs) rs->Close();
  page.response.Write("</font></div><br>");
  if (choice.count > 1) {
    if (pager_base) {
      WritePagerAt(page, choice, *pager_base);
    } else {
      WritePager(page, choice);
    }
  }
  page.response.Write(Footer(page.texts));
}

// Page `page` of the list as the state read shows it. A page past the first starts at its
// anchor, found by an index seek however deep it is.
void RenderListPage(const PageContext& page, const OneState& state, std::int64_t page_number) {
  const PageChoice choice{page_number, ListPagesOf(CountEntries(page))};
  page.response.Write(ListHead("<div style='background-color:#F7EEFF'>", page.script_name));
  std::optional<data::Query> rows{{kNewestEntriesSql, {}, "MESSAGE"}};
  if (page_number > 1) {
    const auto read = [&] { return ListAnchors::Read(state.connection, kListRowsPerPage); };
    const auto anchors = page.cache ? page.cache->Anchors(page.database.Id(), state.stamp, read)
                                    : std::make_shared<const ListAnchors>(read());
    rows = anchors->RowsFrom(page_number);
  }
  std::unique_ptr<data::Recordset> rs;
  if (rows) {
    rows->batch_rows = kListRowsPerPage + 1;  // the page, and the row that tells it is whole
    rs = page.database.Open(std::move(*rows));
  }
  WriteListRows(page, rs.get(), choice);
}

}  // namespace

void WriteEntryListPage(const PageContext& page, data::Query rows, const PageChoice& choice,
                        std::string_view pager_base) {
  auto rs = page.database.Open(std::move(rows));
  page.response.Write(ListHead("<div style='background-color:#F7EEFF'>", page.script_name));
  WriteListRows(page, rs.get(), choice, pager_base);
}

// The page to show is chosen from the count of the current state and remembered in the
// session before the page is read: no read is open while the session store may be busy. The
// page's text depends on the request only through the page number and the pager's links.
void WriteLogList(const PageContext& page) {
  const std::string counted = CachedText(page, CacheKey("entries").str(), [&page](const OneState&) {
    return std::to_string(CountEntries(page));
  });
  std::int64_t entries = 0;
  std::from_chars(counted.data(), counted.data() + counted.size(), entries);
  if (entries < 1) {
    ShowMessage(page.response, "缺少资料", "没有网站日志", MessageButtons::kClose);
    return;
  }
  const PageChoice choice = ChoosePage(ListPagesOf(entries), page.request, page.session);
  RememberPage(choice, page.session);
  WriteCached(
      page, CacheKey("list").Add(page.script_name).Add(PagerLinkBase(page)).Add(choice.page).str(),
      [&choice](const PageContext& p, const OneState& state) {
        RenderListPage(p, state, choice.page);
      });
}

}  // namespace tessaly::pages
