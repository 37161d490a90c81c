// What kind of answer a request got, for the metrics and the access log: a small fixed set of
// names, so that no request can add a label of its own (a raw path or query never becomes one).
//
// The kinds are the page actions that the site knows (given once, at start-up), "other" for a
// page request whose action is none of them, and the server's own: "static" (a file),
// "include" (a page whose includes are expanded), "metrics", and "none" for a request that
// reached nothing (no such file, or refused before it was routed).
#ifndef TESSALY_SERVER_ROUTE_KIND_H_
#define TESSALY_SERVER_ROUTE_KIND_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::server {

class RouteKinds {
 public:
  // `actions`: the values of the request item "action" that pages answer, each its own kind;
  // the first is the one that a page request without an action (or an empty one) gets.
  explicit RouteKinds(std::vector<std::string> actions);

  // Index of each kind, from 0 to size() - 1; the actions come first, in the order given.
  std::size_t None() const { return actions_.size() + kNone; }
  std::size_t Static() const { return actions_.size() + kStatic; }
  std::size_t Include() const { return actions_.size() + kInclude; }
  std::size_t Metrics() const { return actions_.size() + kMetrics; }
  std::size_t Other() const { return actions_.size() + kOther; }
  std::size_t size() const { return actions_.size() + kFixed; }

  // The kind of a page request whose "action" item is `action` (absent: nullptr).
  std::size_t OfAction(const std::string* action) const;
  // The kind of a page request with `query` (its query string) and, for a form post, its body
  // (`form`, empty otherwise): the action of the query, else of the form, as a page reads it.
  std::size_t OfPage(std::string_view query, std::string_view form) const;

  std::string_view Name(std::size_t kind) const;

 private:
  enum Fixed : std::size_t { kNone, kStatic, kInclude, kMetrics, kOther, kFixed };
  std::vector<std::string> actions_;
};

// The class of an HTTP status, "1xx" to "5xx", as an index 0 to 4; anything else counts as 5xx.
inline constexpr std::size_t kStatusClasses = 5;
std::size_t StatusClass(unsigned status);
std::string_view StatusClassName(std::size_t status_class);

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_ROUTE_KIND_H_
