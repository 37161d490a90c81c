// The footer block under the list and entry pages.
#ifndef TESSALY_PAGES_FOOTER_H_
#define TESSALY_PAGES_FOOTER_H_

#include <string>

#include "pages/site_texts.h"

namespace tessaly::pages {

// The webmaster's mail link around the bold notice, then the credit link to the site's maker
// in a new window. The texts come from the settings and are HTML-escaped.
std::string Footer(const SiteTexts& texts);

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_FOOTER_H_
