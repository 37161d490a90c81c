// The pages every visitor sees.
#ifndef TESSALY_PAGES_PUBLIC_PAGES_H_
#define TESSALY_PAGES_PUBLIC_PAGES_H_

#include <cstdint>

#include "pages/page_context.h"
#include "pages/pager.h"

namespace tessaly::pages {

// Rows on a page of the public list and of the search results, and the pages `rows` make.
inline constexpr std::int64_t kListRowsPerPage = 25;
constexpr std::int64_t ListPagesOf(std::int64_t rows) {
  return (rows + kListRowsPerPage - 1) / kListRowsPerPage;
}

// The block of the newest entries (as many as HotNewsRCs) that other pages embed, with a link
// to the whole list when there are more; "没有日志" alone for an empty log. Embedded in a page
// outside the database's folder, its links go to the page of the same file name inside that
// folder, relative to the embedding page.
void WriteHotNews(const PageContext& page);

// Every entry, newest first, 25 to a page, with the pager and the footer; a message box for
// an empty log.
void WriteLogList(const PageContext& page);

// Page `choice` of a list of entries in the public list's look: the head, the rows that `rows`
// gives (ID, TITLE and STIME, newest first; the page's own rows, at most kListRowsPerPage), the
// pager with its links built on `pager_base` (WritePagerAt) and the footer. The text depends on
// nothing else, so it can be kept (output_cache.h).
void WriteEntryListPage(const PageContext& page, data::Query rows, const PageChoice& choice,
                        std::string_view pager_base);

// One entry (the request item "id") as a whole document with the footer; a message box when
// "id" is not a whole number or names no entry.
void ShowLogEntry(const PageContext& page);

// An Atom 1.0 feed of the newest entries (as many as HotNewsRCs, from 10 to 500) with absolute
// links built on the configured site address or the request's Host; ETag and Last-Modified,
// and 304 for a reader that has the current feed. An empty log is a valid empty feed.
void WriteFeed(const PageContext& page);

// A search form (the request item "q"), then the entries whose visible title or text hold
// every word of "q" (ASCII letters in any case), newest first, 25 to a page with the pager and
// the footer; a line saying that nothing was found when none does.
void WriteSearchResults(const PageContext& page);

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_PUBLIC_PAGES_H_
