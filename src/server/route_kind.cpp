#include "server/route_kind.h"

#include <array>
#include <optional>

#include "server/url_encoding.h"

namespace tessaly::server {
namespace {

constexpr std::array<std::string_view, 5> kFixedNames{"none", "static", "include", "metrics",
                                                      "other"};
constexpr std::array<std::string_view, kStatusClasses> kClassNames{"1xx", "2xx", "3xx", "4xx",
                                                                   "5xx"};

}  // namespace

RouteKinds::RouteKinds(std::vector<std::string> actions) : actions_(std::move(actions)) {
  if (actions_.empty()) actions_.emplace_back("page");
}

std::size_t RouteKinds::OfAction(const std::string* action) const {
  if (!action || action->empty()) return 0;
  for (std::size_t i = 0; i < actions_.size(); ++i) {
    if (actions_[i] == *action) return i;
  }
  return Other();
}

std::size_t RouteKinds::OfPage(std::string_view query, std::string_view form) const {
  std::optional<std::string> action = FindFormItem(query, "action");
  if (!action && !form.empty()) action = FindFormItem(form, "action");
  return OfAction(action ? &*action : nullptr);
}

std::string_view RouteKinds::Name(std::size_t kind) const {
  if (kind < actions_.size()) return actions_[kind];
  kind -= actions_.size();
  return kind < kFixedNames.size() ? kFixedNames[kind] : "none";
}

std::size_t StatusClass(unsigned status) {
  if (status < 100 || status >= 600) return kStatusClasses - 1;
  return status / 100 - 1;
}

std::string_view StatusClassName(std::size_t status_class) {
  return kClassNames[status_class < kStatusClasses ? status_class : kStatusClasses - 1];
}

}  // namespace tessaly::server
