#include <algorithm>
#include <cstdint>

#include "base/http_date.h"
#include "pages/conditional.h"
#include "pages/date_format.h"
#include "pages/html.h"
#include "pages/public_pages.h"
#include "text/escape.h"
#include "text/replace.h"

namespace tessaly::pages {
namespace {

// A feed lists as many entries as the hot news block, but at least this many, and never more
// than the most, so that a large setting cannot make every poll read the whole log.
constexpr std::int64_t kFewestEntries = 10;
constexpr std::int64_t kMostEntries = 500;

constexpr std::string_view kFeedType = "application/atom+xml; charset=utf-8";

// Letters, digits and the few characters a host and port are written with.
bool IsPlainHost(std::string_view host) {
  return !host.empty() && host.size() <= 255 && std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == ':' || c == '[' || c == ']';
  });
}

// The site's address: the configured one, or the one the request was sent to.
std::string SiteAddress(const PageContext& page) {
  if (!page.texts.url.empty()) return page.texts.url;
  const std::string host = page.request.ServerVariable("HTTP_HOST");
  if (IsPlainHost(host)) return "http://" + host;
  const std::string name = page.request.ServerVariable("SERVER_NAME");
  return "http://" + (IsPlainHost(name) ? name : std::string("localhost")) + ":" +
         page.request.ServerVariable("SERVER_PORT");
}

// A stored content is HTML that shows every apostrophe its author typed as two: the feed is
// read by programs, not pasted into our pages, so it gets them back as typed. The markup tags
// never write two apostrophes in a row, so every pair is one the author typed.
std::string TypedApostrophes(std::string_view content) {
  return text::ReplaceAll(content, "''", "'");
}

}  // namespace

void WriteFeed(const PageContext& page) {
  const std::int64_t count =
      std::clamp<std::int64_t>(page.hot_news_rcs, kFewestEntries, kMostEntries);
  auto rs = page.database.Open(
      {"SELECT ID, TITLE, CONTENT, STIME FROM MESSAGE ORDER BY STIME DESC", {}, "MESSAGE"});
  const std::string site = SiteAddress(page);
  const std::string list = EscapeXml(site + page.script_name + "?action=list");
  std::string entries;
  std::string newest;  // STIME of the first entry
  for (std::int64_t rows = 0; rows < count && !rs->Eof(); ++rows, rs->MoveNext()) {
    const std::string stime = rs->Field("STIME").ToText();
    if (newest.empty()) newest = stime;
    const std::string link =
        EscapeXml(site + page.script_name + "?action=show&id=" + rs->Field("ID").ToText());
    entries.append("<entry><title>")
        .append(EscapeXml(text::DecodeText(rs->Field("TITLE").ToText())))
        .append("</title><id>")
        .append(link)
        .append("</id><link rel=\"alternate\" type=\"text/html\" href=\"")
        .append(link)
        .append("\"/><updated>")
        .append(Rfc3339(stime).empty() ? "1970-01-01T00:00:00Z" : Rfc3339(stime))
        .append("</updated><content type=\"html\">")
        .append(EscapeXml(TypedApostrophes(rs->Field("CONTENT").ToText())))
        .append("</content></entry>\n");
  }
  rs->Close();
  const std::string updated = Rfc3339(newest).empty() ? "1970-01-01T00:00:00Z" : Rfc3339(newest);
  const std::string label = EscapeXml(page.texts.site_label);
  const std::string document =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">\n"
      "<title>" +
      label + " 网站日志</title>\n<id>" + list +
      "</id>\n<link rel=\"self\" "
      "type=\"application/atom+xml\" href=\"" +
      EscapeXml(site + page.script_name + "?action=feed") +
      "\"/>\n<link rel=\"alternate\" type=\"text/html\" href=\"" + list + "\"/>\n<updated>" +
      updated + "</updated>\n<author><name>" + label + "</name></author>\n" + entries + "</feed>\n";

  // Feed readers poll: an unchanged feed costs them a 304, by its tag or, from a reader that
  // sends none, by its date.
  page.response.SetContentType(kFeedType);
  const auto modified = EpochSeconds(newest);
  if (modified) page.response.AddHeader("Last-Modified", HttpDate(*modified));
  if (AnswerWithTag(page.request, page.response, EntityTag(Fingerprint(document)))) return;
  if (page.request.ServerVariable("HTTP_IF_NONE_MATCH").empty() && modified &&
      page.request.ServerVariable("HTTP_IF_MODIFIED_SINCE") == HttpDate(*modified)) {
    page.response.SetStatus(304);
    return;
  }
  page.response.Write(document);
}

}  // namespace tessaly::pages
