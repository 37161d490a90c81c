#include "component/log.h"
#include "pages/html.h"

namespace tessaly {

// The footer block under the list and entry pages: the webmaster's mail link around a bold
// notice, and the credit link to the site's maker in a new window.
std::string LOG::Footer() const {
  using pages::EscapeHtml;
  return "<p><a href='mailto:" + EscapeHtml(texts_.webmaster_email) +
         "'><font style='color:#0000ff;font-size:12px'><b>" + EscapeHtml(texts_.notice) +
         "</b></font></a><br><a href='" + EscapeHtml(texts_.credit_url) +
         "' target=_blank><font style='color:#0000ff;font-size:12px'>" +
         EscapeHtml(texts_.credit_text) + "</font></a>";
}

}  // namespace tessaly
