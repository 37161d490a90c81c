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

// Chooses the page of `rs` (a list with at least one row) from the request item "move" and the
// session's "tPage" (empty or unreadable counts as 0), clamped to the list; positions `rs` on
// its first row and stores it as "tPage". The rows are read before the session is written, so
// no read of the database is open while the session store is busy.
PageChoice SelectPage(data::Recordset& rs, std::int64_t rows_per_page, const host::Request& request,
                      host::Session& session);

// Writes the navigation bar under a list of more than one page. The links are the script name
// and the request's query with every move removed, `pager_query` appended and the query made
// safe for the unquoted script attribute it goes into (html.h EncodeForLink).
void WritePager(const PageContext& page, const PageChoice& choice,
                std::string_view pager_query = {});

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_PAGER_H_
