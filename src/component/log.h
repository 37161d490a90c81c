// LOG: the log board component. A page creates one object per request, hands it the page's
// scripting context with OnStartPage, sets the three properties and calls Main, which writes
// the whole answer for the request's "action" through one page function (pages/, admin/,
// images/); OnEndPage releases the host objects.
//
// One object serves one request on one thread and shares nothing with other objects but the
// connection pool and the logon guard it is given. Every failure is thrown as tessaly::Error;
// output written before it stays written.
#ifndef TESSALY_COMPONENT_LOG_H_
#define TESSALY_COMPONENT_LOG_H_

#include <cstdint>
#include <string>
#include <vector>

#include "data/database.h"
#include "host/host.h"
#include "host/variant.h"
#include "pages/logon_guard.h"
#include "pages/output_cache.h"
#include "pages/site_texts.h"

namespace tessaly {

// The values of the request item "action" that Main answers with a page of their own, the one
// it gives for any other value first.
std::vector<std::string> PageActions();

class LOG {
 public:
  // `pool`, `texts`, `logons`, `cache` and `renderings` (what the public pages keep: what the
  // server shares, and the renderings of the event loop that runs the page; null: nothing) must
  // outlive the object.
  LOG(data::Pool& pool, const SiteTexts& texts, pages::LogonGuard& logons,
      pages::PublicCache* cache = nullptr, pages::OutputCache* renderings = nullptr)
      : pool_(pool), texts_(texts), logons_(logons), cache_(cache), renderings_(renderings) {}

  // Keeps the context's host objects until OnEndPage; `context` must outlive that.
  void OnStartPage(host::ScriptingContext& context) { context_ = &context; }
  void OnEndPage() { context_ = nullptr; }

  // The properties keep their own types: WebPath a string, the two counts 32-bit integers.
  // Setting one converts the Variant (halves round to even, numeric text is read); a value that
  // does not convert throws ConversionError and leaves the property unchanged.
  host::Variant WebPath() const { return host::Variant(web_path_); }
  void SetWebPath(const host::Variant& value) { web_path_ = value.ToString(); }
  host::Variant HotNewsRCs() const { return host::Variant(hot_news_rcs_); }
  void SetHotNewsRCs(const host::Variant& value) { hot_news_rcs_ = value.ToInt32(); }
  host::Variant ImageSize() const { return host::Variant(image_size_); }
  void SetImageSize(const host::Variant& value) { image_size_ = value.ToInt32(); }

  // Writes the page that the request item "action" asks for (exact, case-sensitive); the hot
  // news block for any other value. Throws Error when called outside OnStartPage/OnEndPage.
  void Main();

 private:
  data::Pool& pool_;
  const SiteTexts& texts_;
  pages::LogonGuard& logons_;
  pages::PublicCache* cache_;
  pages::OutputCache* renderings_;
  host::ScriptingContext* context_ = nullptr;
  std::string web_path_;
  std::int32_t hot_news_rcs_ = 0;
  std::int32_t image_size_ = 0;
};

}  // namespace tessaly

#endif  // TESSALY_COMPONENT_LOG_H_
