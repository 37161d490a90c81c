#include "server/shtml.h"

#include <memory>
#include <stdexcept>

#include "base/ascii.h"
#include "server/file_texts.h"
#include "server/includes.h"
#include "server/static_files.h"

namespace tessaly::server {
namespace {

namespace http = boost::beast::http;

// Headers that describe the outer request's own conditions or body, not the visitor: an
// include is a plain GET and must not answer 304 or read a body.
bool PassesToInclude(std::string_view name) {
  for (std::string_view own :
       {"If-None-Match", "If-Modified-Since", "If-Match", "If-Unmodified-Since", "If-Range",
        "Range", "Content-Length", "Content-Type", "Transfer-Encoding", "Expect", "Cookie"}) {
    if (ascii::EqualsNoCase(name, own)) return false;
  }
  return true;
}

// The path from the site's root of a file under it ("/a/index.shtml" for the index of "/a/"),
// so that a page is known by one name whichever way it was reached.
std::string SitePath(const std::filesystem::path& root, const std::filesystem::path& file) {
  std::string path = "/";
  path += file.lexically_relative(root).generic_string();
  return path;
}

class Expansion {
 public:
  explicit Expansion(const ShtmlRequest& request) : request_(request) {
    for (const auto& field : request.headers) {
      if (PassesToInclude(field.name_string())) {
        headers_.insert(field.name_string(), field.value());
      } else if (field.name() == http::field::cookie) {
        if (!cookies_.empty()) cookies_ += "; ";
        cookies_.append(field.value());
      }
    }
    if (!cookies_.empty()) headers_.set(http::field::cookie, cookies_);
  }

  std::string Expand(std::string_view text, std::string_view path) {
    return ExpandIncludes(text, path, request_.limits,
                          [this](const IncludeTarget& target) { return Fetch(target); });
  }

  const std::string& session_cookie() const { return session_cookie_; }

  std::string SitePath(const std::filesystem::path& file) const {
    return server::SitePath(request_.root, file);
  }

 private:
  Fetched Fetch(const IncludeTarget& target) {
    if (const PageConfig* page = request_.find_page(target.path)) return RunInclude(*page, target);
    const auto file = request_.paths.Resolve(request_.root, target.path);
    if (!file) return {false, "not found"};
    const auto text = request_.texts.Text(*file);
    if (!text) return {false, "cannot read"};
    if (!IsIncludingPage(file->path.filename().native())) return {true, *text};
    return {true, *text, SitePath(file->path)};
  }

  Fetched RunInclude(const PageConfig& page, const IncludeTarget& target) {
    RequestLine line = request_.line;
    line.method = "GET";
    line.script_name = page.path;
    line.query = target.query;
    ResponseHead head;
    std::string body;
    RunPage(request_.pages, page, line, headers_, {}, head, body);
    TakeSessionCookie(head.lines());
    if (head.status() != 200) return {false, "status " + std::to_string(head.status())};
    return {true, std::move(body)};
  }

  // A session that an include started is the visitor's from then on: later includes send its
  // cookie, and the answer sets it.
  void TakeSessionCookie(std::string_view head) {
    constexpr std::string_view kSetCookie = "\r\nSet-Cookie: ";
    const std::size_t at = head.find(kSetCookie);
    if (at == std::string_view::npos) return;
    const std::size_t start = at + kSetCookie.size();
    session_cookie_ = std::string(head.substr(start, head.find("\r\n", start) - start));
    std::string others;
    std::string_view rest = cookies_;
    while (!rest.empty()) {
      const std::size_t semicolon = rest.find(';');
      std::string_view item = rest.substr(0, semicolon);
      rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
      while (item.starts_with(' ')) item.remove_prefix(1);
      if (item.empty() || item.starts_with(std::string(kSessionCookie) + "=")) continue;
      others.append("; ").append(item);
    }
    cookies_ = session_cookie_.substr(0, session_cookie_.find(';')) + others;
    headers_.set(http::field::cookie, cookies_);
  }

  const ShtmlRequest& request_;
  http::fields headers_;
  std::string cookies_;
  std::string session_cookie_;
};

}  // namespace

ShtmlAnswer RenderShtml(const ShtmlRequest& request, const StaticFile& file) {
  const auto text = request.texts.Text(file);
  if (!text) throw std::runtime_error("cannot read " + file.path.native() + " whole");
  Expansion expansion(request);
  ShtmlAnswer answer;
  answer.body = expansion.Expand(*text, expansion.SitePath(file.path));
  answer.session_cookie = expansion.session_cookie();
  return answer;
}

}  // namespace tessaly::server
