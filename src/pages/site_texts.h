// Texts of the site that the pages write around the entries: the label in the entry page's
// title and the footer block under the list and entry pages. Plain text; the pages escape them.
#ifndef TESSALY_PAGES_SITE_TEXTS_H_
#define TESSALY_PAGES_SITE_TEXTS_H_

#include <string>

namespace tessaly {

struct SiteTexts {
  std::string site_label = "Tessaly";
  std::string webmaster_email = "webmaster@localhost";
  std::string notice = "本站日志由网站管理员发布，如有疑问请来信";
  std::string credit_text = "Tessaly 网站日志系统";
  std::string credit_url = "https://localhost/";
  // The site's address ("https://example.org", no trailing slash) for the absolute links of
  // the feed; empty: taken from the request's Host.
  std::string url;

  friend bool operator==(const SiteTexts&, const SiteTexts&) = default;
};

}  // namespace tessaly

#endif  // TESSALY_PAGES_SITE_TEXTS_H_
