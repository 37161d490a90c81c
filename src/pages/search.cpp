#include <charconv>

#include "base/utf8.h"
#include "pages/html.h"
#include "pages/output_cache.h"
#include "pages/pager.h"
#include "pages/public_pages.h"
#include "text/search_terms.h"

namespace tessaly::pages {
namespace {

std::string SearchForm(const PageContext& page, std::string_view query) {
  return "<form method='get' action='" + EscapeHtml(page.script_name) +
         "' style='font-size:12px'><input type='hidden' name='action' "
         "value='search'><input type='text' name='q' size='30' value='" +
         EscapeHtml(query) +
         "' style='font-size: 12px'> <input type='submit' value=' 搜  索 ' "
         "style='font-size: 12px'></form>";
}

// `text` as a browser's form sends it: letters, digits and "*-._" as they are, a space as "+",
// every other byte as %XX.
std::string FormEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '*' ||
        c == '-' || c == '.' || c == '_') {
      out += ch;
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

// The pager's links name the search by its words alone, as the form sends them: whatever else
// a request's query holds, one page of one search has one text, kept once.
std::string SearchLinkBase(const PageContext& page, const std::vector<std::string>& words) {
  std::string joined;
  for (const std::string& word : words) joined += (joined.empty() ? "" : " ") + word;
  return page.script_name + "?action=search&q=" + FormEncode(joined) + "&";
}

void WriteStatusPage(const PageContext& page, int status, std::string_view title) {
  page.response.SetStatus(status);
  page.response.Write("<html><body><h1>" + std::string(title) + "</h1></body></html>\n");
}

}  // namespace

void WriteSearchResults(const PageContext& page) {
  const std::string query = page.request.Item("q");
  if (!utf8::IsValid(query) || text::HasControlCharacter(query)) {
    // Not words at all: refused as any malformed request is, before it reaches the index.
    WriteStatusPage(page, 400, "400 Bad Request");
    return;
  }
  const std::vector<std::string> words = text::SearchWords(query);
  if (words.empty()) {
    page.response.Write(SearchForm(page, query));
    return;
  }

  // A search is kept under its words and page alone (SearchLinkBase). Whatever is not kept
  // reads the index, which is first caught up (one count when nothing is pending).
  bool caught_up = false;
  const auto read_index = [&](std::string_view key) {
    if (caught_up || IsKept(page, key)) return;
    page.database.CatchUpSearchIndex();
    caught_up = true;
  };
  CacheKey count_key("matches");
  for (const std::string& word : words) count_key.Add(word);
  read_index(count_key.str());
  const std::string counted = CachedText(page, count_key.str(), [&](const OneState&) {
    return page.database.Open(page.database.SearchCountQuery(words))->Field("N").ToText();
  });
  std::int64_t count = 0;
  std::from_chars(counted.data(), counted.data() + counted.size(), count);
  if (count < 1) {
    page.response.Write(SearchForm(page, query));
    page.response.Write("<p style='font-size:12px'>没有找到包含“" + EscapeHtml(query) +
                        "”的日志。</p>");
    return;
  }
  const PageChoice choice = ChoosePage(ListPagesOf(count), page.request, page.session);
  CacheKey page_key("search");
  page_key.Add(page.script_name).Add(choice.page);
  for (const std::string& word : words) page_key.Add(word);
  read_index(page_key.str());
  RememberPage(choice, page.session);
  const std::string link_base = SearchLinkBase(page, words);
  WriteCached(
      page, page_key.str(),
      [&](const PageContext& p, const OneState&) {
        const std::int64_t first = (choice.page - 1) * kListRowsPerPage;
        WriteEntryListPage(p, page.database.SearchPageQuery(words, first, kListRowsPerPage, count),
                           choice, link_base);
      },
      SearchForm(page, query));
}

}  // namespace tessaly::pages
