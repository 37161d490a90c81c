// A browser's view of the server: one visitor that keeps its session cookie across requests.
#ifndef TESSALY_TESTS_E2E_VISITOR_H_
#define TESSALY_TESTS_E2E_VISITOR_H_

#include <string>

#include "e2e/harness.h"

namespace tessaly::e2e {

class Visitor {
 public:
  explicit Visitor(Server& server) : server_(server) {}

  HttpResponse Get(const std::string& target, const std::string& extra_headers = {}) {
    return Keep(server_.Get(target, CookieLine() + extra_headers));
  }
  HttpResponse Post(const std::string& target, const std::string& body,
                    const std::string& content_type = "application/x-www-form-urlencoded",
                    const std::string& extra_headers = {}) {
    return Keep(server_.Post(target, body, content_type, CookieLine() + extra_headers));
  }

  const std::string& cookie() const { return cookie_; }
  void Forget() { cookie_.clear(); }

 private:
  std::string CookieLine() const { return cookie_.empty() ? "" : "Cookie: " + cookie_ + "\r\n"; }
  // Takes up a new session cookie, and drops one the server expires (an abandoned session).
  HttpResponse Keep(HttpResponse r) {
    const std::string set = r.Header("set-cookie");
    if (!set.empty()) {
      cookie_ = set.find("Max-Age=0") != std::string::npos ? "" : set.substr(0, set.find(';'));
    }
    return r;
  }

  Server& server_;
  std::string cookie_;
};

}  // namespace tessaly::e2e

#endif  // TESSALY_TESTS_E2E_VISITOR_H_
