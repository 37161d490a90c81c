#include <algorithm>

#include "pages/date_format.h"
#include "pages/list_anchors.h"
#include "pages/list_head.h"
#include "pages/output_cache.h"
#include "pages/public_pages.h"

namespace tessaly::pages {
namespace {

// Links of a block embedded outside the database's folder go to the page of the same name
// inside that folder, relative to the embedding page.
std::string LinkBase(const std::string& script_name, const std::string& web_path) {
  if (script_name.find("/" + web_path + "/") != std::string::npos) return script_name;
  const std::size_t slash = script_name.rfind('/');
  return web_path + "/" +
         (slash == std::string::npos ? script_name : script_name.substr(slash + 1));
}

void RenderHotNews(const PageContext& page, const OneState&) {
  // The rows the block shows and one more, which tells the walk it is done without reading on.
  auto rs = page.database.Open({kNewestEntriesSql,
                                {},
                                "MESSAGE",
                                true,
                                std::max<std::int64_t>(1, std::int64_t{page.hot_news_rcs} + 1)});
  if (rs->AbsolutePosition() == -1) {
    page.response.Write("没有日志");
    return;
  }
  const std::string base = LinkBase(page.script_name, page.web_path);
  page.response.Write(ListHead("<div>", base));
  while (!(rs->AbsolutePosition() >= std::int64_t{page.hot_news_rcs} + 1 || rs->Eof())) {
    page.response.Write(ListRow(rs->Field("ID").ToText(), rs->Field("TITLE").ToText(),
                                FormatDate(rs->Field("STIME").ToText())));
    rs->MoveNext();
  }
  if (rs->RecordCount() > page.hot_news_rcs) {
    page.response.Write("<br><br><a target=_blank href=" + base +
                        "?action=list><font color=#ff0000>更多的网站日志...</font></a>");
  }
  rs->Close();
  page.response.Write("</font></div>");
}

}  // namespace

void WriteHotNews(const PageContext& page) {
  WriteCached(
      page,
      CacheKey("hotnews").Add(page.script_name).Add(page.web_path).Add(page.hot_news_rcs).str(),
      RenderHotNews);
}

}  // namespace tessaly::pages
