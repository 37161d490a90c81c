#include <charconv>

#include "base/utf8.h"
#include "pages/html.h"
#include "pages/output_cache.h"
#include "pages/pager.h"
#include "pages/public_pages.h"

namespace tessaly::pages {
namespace {

// Bounds on what a query may cost: characters read, and words that count.
constexpr std::size_t kMaxQueryCharacters = 200;
constexpr std::size_t kMaxWords = 8;

// `text` cut after `count` characters (UTF-8 sequences are never split).
std::string_view FirstCharacters(std::string_view text, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == count) {
      return text.substr(0, i);
    }
  }
  return text;
}

// Words are separated by ASCII blanks and by the ideographic space that Chinese input
// methods type; the doubled apostrophe of the stored form counts as one, as in the index.
std::vector<std::string> Words(std::string_view query) {
  std::string text(FirstCharacters(query, kMaxQueryCharacters));
  for (std::size_t at; (at = text.find("\u3000")) != std::string::npos;) text.replace(at, 3, " ");
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size() && words.size() < kMaxWords) {
    const std::size_t start = text.find_first_not_of(" \t\r\n\f\v", i);
    if (start == std::string::npos) break;
    const std::size_t end = std::min(text.find_first_of(" \t\r\n\f\v", start), text.size());
    std::string word = text.substr(start, end - start);
    for (std::size_t at; (at = word.find("''")) != std::string::npos;) word.erase(at, 1);
    words.push_back(std::move(word));
    i = end;
  }
  return words;
}

void WriteSearchForm(const PageContext& page, std::string_view query) {
  page.response.Write("<form method='get' action='" + EscapeHtml(page.script_name) +
                      "' style='font-size:12px'><input type='hidden' name='action' "
                      "value='search'><input type='text' name='q' size='30' value='" +
                      EscapeHtml(query) +
                      "' style='font-size: 12px'> <input type='submit' value=' 搜  索 ' "
                      "style='font-size: 12px'></form>");
}

}  // namespace

void WriteSearchResults(const PageContext& page) {
  const std::string query = page.request.Item("q");
  if (!utf8::IsValid(query)) {
    // Not text at all: refused as any malformed request is, before it reaches the index.
    page.response.SetStatus(400);
    page.response.Write("<html><body><h1>400 Bad Request</h1></body></html>\n");
    return;
  }
  WriteSearchForm(page, query);
  const std::vector<std::string> words = Words(query);
  if (words.empty()) return;

  // Pages are kept per state of the database, and every change to an entry is a commit that
  // marks it pending in the index, so a page kept for the current state was read from an index
  // that was up to date; catching up costs one count when nothing is pending.
  page.database.CatchUpSearchIndex();
  const data::Query matches = page.database.SearchQuery(words);
  CacheKey count_key("matches");
  for (const std::string& word : words) count_key.Add(word);
  const std::string counted = CachedText(page, count_key.str(), [&](const OneState&) {
    return std::to_string(page.database.Open(matches)->RecordCount());
  });
  std::int64_t count = 0;
  std::from_chars(counted.data(), counted.data() + counted.size(), count);
  if (count < 1) {
    page.response.Write("<p style='font-size:12px'>没有找到包含“" + EscapeHtml(query) +
                        "”的日志。</p>");
    return;
  }
  const PageChoice choice = ChoosePage(ListPagesOf(count), page.request, page.session);
  RememberPage(choice, page.session);
  CacheKey page_key("search");
  page_key.Add(page.script_name).Add(PagerLinkBase(page)).Add(choice.page);
  for (const std::string& word : words) page_key.Add(word);
  WriteCached(page, page_key.str(), [&](const PageContext& p, const OneState&) {
    WriteEntryListPage(p, matches, choice.page);
  });
}

}  // namespace tessaly::pages
