#include "component/run_page.h"

#include "component/log.h"

namespace tessaly {
namespace {

void SetProperties(LOG& log, const PageProperties& properties) {
  log.SetWebPath(properties.web_path);
  log.SetHotNewsRCs(properties.hot_news_rcs);
  log.SetImageSize(properties.image_size);
}

// Ends the page however Main leaves it.
class StartedPage {
 public:
  StartedPage(LOG& log, host::ScriptingContext& context) : log_(log) { log_.OnStartPage(context); }
  ~StartedPage() { log_.OnEndPage(); }
  StartedPage(const StartedPage&) = delete;
  StartedPage& operator=(const StartedPage&) = delete;

 private:
  LOG& log_;
};

}  // namespace

void RunLogPage(data::Pool& pool, const SiteTexts& texts, pages::LogonGuard& logons,
                host::ScriptingContext& context, const PageProperties& properties,
                pages::PublicCache* cache, pages::OutputCache* renderings) {
  LOG log(pool, texts, logons, cache, renderings);
  StartedPage started(log, context);
  SetProperties(log, properties);
  log.Main();
}

void CheckPageProperties(const PageProperties& properties) {
  data::Pool pool;
  const SiteTexts texts;
  pages::LogonGuard logons;
  LOG log(pool, texts, logons);
  SetProperties(log, properties);
}

}  // namespace tessaly
