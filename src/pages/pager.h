// Paging of the four paged lists (the public list, the delete and edit lists, the picture
// list). The links carry only a relative move ("move=first", "previous", "next", "last"); the
// page a visitor saw last lives in the session item "tPage", which all lists share.
#ifndef TESSALY_PAGES_PAGER_H_
#define TESSALY_PAGES_PAGER_H_

#include <cstdint>
#include <string_view>

#include "data/recordset.h"
#include "host/host.h"
#include "pages/page_context.h"

namespace tessaly::pages {

struct PageChoice {
  std::int64_t page = 1;   // the page shown, from 1
  std::int64_t count = 1;  // pages in the list
};

// The page of a list of `page_count` pages (at least 1) that the request item "move" asks for,
// moving from the session's "tPage" (empty or unreadable counts as 0), clamped to the list.
PageChoice ChoosePage(std::int64_t page_count, const host::Request& request,
                      const host::Session& session);

// Stores the page chosen as the session's "tPage". Called with no read of the database open,
// since the session store may be busy.
void RememberPage(const PageChoice& choice, host::Session& session);

// Chooses the page of `rs` (a list with at least one row) as ChoosePage does, positions `rs` on
// its first row and remembers the page. The rows are read before the session is written.
PageChoice SelectPage(data::Recordset& rs, std::int64_t rows_per_page, const host::Request& request,
                      host::Session& session);

// The start of the pager's links: the script name, "?", and the request's query with every
// move removed, `pager_query` appended and the query made safe for the unquoted script
// attribute it goes into (html.h EncodeForLink), ending in "&" when not empty.
std::string PagerLinkBase(const PageContext& page, std::string_view pager_query = {});

// Writes the navigation bar under a list of more than one page, its links built on
// PagerLinkBase.
void WritePager(const PageContext& page, const PageChoice& choice,
                std::string_view pager_query = {});

// The same, its links built on `base` (a script name, "?" and a query safe for an unquoted
// attribute, ending in "&" when not empty) rather than on the request's query.
void WritePagerAt(const PageContext& page, const PageChoice& choice, std::string_view base);

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_PAGER_H_
