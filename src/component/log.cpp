#include "component/log.h"

#include <array>
#include <string_view>
#include <utility>

#include "admin/admin.h"
#include "base/errors.h"
#include "images/images.h"
#include "pages/page_context.h"
#include "pages/public_pages.h"

namespace tessaly {
namespace {

// The pages by "action". Any other value, an empty one or none gives the hot news block, which
// is what a page that only calls Main embeds.
constexpr std::array<std::pair<std::string_view, pages::PageFunction>, 7> kActions{{
    {"hotnews", pages::WriteHotNews},
    {"list", pages::WriteLogList},
    {"show", pages::ShowLogEntry},
    {"admin", admin::AdminMain},
    {"image", images::ServeImage},
    {"search", pages::WriteSearchResults},
    {"feed", pages::WriteFeed},
}};

pages::PageFunction PageFor(std::string_view action) {
  for (const auto& [name, page] : kActions) {
    if (name == action) return page;
  }
  return pages::WriteHotNews;
}

}  // namespace

std::vector<std::string> PageActions() {
  std::vector<std::string> names;
  names.reserve(kActions.size());
  for (const auto& action : kActions) names.emplace_back(action.first);
  return names;
}

void LOG::Main() {
  if (!context_) throw Error("LOG.Main: the page has not started (OnStartPage was not called)");
  host::ScriptingContext& host = *context_;
  const std::string script_name = host.request.ServerVariable("SCRIPT_NAME");
  const std::string action = host.request.Item("action");
  const pages::PageDatabase database(pool_, host.server, web_path_);
  const pages::PageContext page{host.request, host.response, host.server, host.session, script_name,
                                web_path_,    hot_news_rcs_, image_size_, texts_,       database,
                                logons_,      cache_,        renderings_};
  PageFor(action)(page);
}

}  // namespace tessaly
