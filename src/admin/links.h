// Self-links and texts that several administration pages share.
#ifndef TESSALY_ADMIN_LINKS_H_
#define TESSALY_ADMIN_LINKS_H_

#include <string>
#include <string_view>

#include "pages/page_context.h"

namespace tessaly::admin {

// The administration page `action` ("control", "add", "edit", ...) of the running page.
inline std::string AdminUrl(const pages::PageContext& page, std::string_view action) {
  return page.script_name + "?action=admin&do=" + std::string(action);
}

// The answer when every hash slot is taken: the visitor may simply send the form again.
inline constexpr std::string_view kBusyText = "服务器繁忙，请稍后再试。";

}  // namespace tessaly::admin

#endif  // TESSALY_ADMIN_LINKS_H_
