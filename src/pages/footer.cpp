#include "pages/footer.h"

#include "pages/html.h"

namespace tessaly::pages {

std::string Footer(const SiteTexts& texts) {
  return "<p><a href='mailto:" + EscapeHtml(texts.webmaster_email) +
         "'><font style='color:#0000ff;font-size:12px'><b>" + EscapeHtml(texts.notice) +
         "</b></font></a><br><a href='" + EscapeHtml(texts.credit_url) +
         "' target=_blank><font style='color:#0000ff;font-size:12px'>" +
         EscapeHtml(texts.credit_text) + "</font></a>";
}

}  // namespace tessaly::pages
