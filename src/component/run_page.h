// Running the component for one page request, the way a page script does: create it, start
// it on the request's context, set the three properties, call Main, end the page.
#ifndef TESSALY_COMPONENT_RUN_PAGE_H_
#define TESSALY_COMPONENT_RUN_PAGE_H_

#include "data/database.h"
#include "host/host.h"
#include "host/variant.h"
#include "pages/logon_guard.h"
#include "pages/output_cache.h"
#include "pages/site_texts.h"

namespace tessaly {

// The three properties that a page sets before Main, as its settings give them.
struct PageProperties {
  host::Variant web_path;
  host::Variant hot_news_rcs;
  host::Variant image_size;
};

// Runs one page; the page is ended (OnEndPage) on every path. `pool`, `logons` and `cache`
// (null: nothing kept) are the server's, shared by all its requests; `renderings` (null:
// nothing kept) are those of the event loop that runs the page. Throws what the component
// throws: ConversionError for a property that does not convert, Error for a failing page.
void RunLogPage(data::Pool& pool, const SiteTexts& texts, pages::LogonGuard& logons,
                host::ScriptingContext& context, const PageProperties& properties,
                pages::PublicCache* cache = nullptr, pages::OutputCache* renderings = nullptr);

// Sets the properties on a component that serves nothing, so that a bad setting is found when
// the server starts rather than at a visitor's request. Throws ConversionError.
void CheckPageProperties(const PageProperties& properties);

}  // namespace tessaly

#endif  // TESSALY_COMPONENT_RUN_PAGE_H_
