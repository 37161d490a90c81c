#include <array>
#include <string_view>
#include <utility>

#include "admin/admin.h"
#include "images/images.h"
#include "pages/guards.h"

namespace tessaly::admin {
namespace {

// Each operation applies its own guards; the table only routes.
constexpr std::array<std::pair<std::string_view, pages::PageFunction>, 13> kPages{{
    {"login", pages::WriteLoginForm},
    {"logon", DoLogon},
    {"control", WriteControlPanel},
    {"add", WriteAddForm},
    {"doadd", DoAddEntry},
    {"del", WriteDeleteList},
    {"dodel", DoDeleteEntries},
    {"edit", WriteEditList},
    {"doedit", WriteEditForm},
    {"update", DoUpdateEntry},
    {"password", WritePasswordForm},
    {"dopassword", DoChangePassword},
    {"image", images::ImageAdmin},
}};

}  // namespace

void AdminMain(const pages::PageContext& page) {
  const std::string action = page.request.Item("do");
  for (const auto& [name, run] : kPages) {
    if (name == action) return run(page);
  }
  pages::WriteLoginForm(page);
}

}  // namespace tessaly::admin
