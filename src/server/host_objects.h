// The host objects of one page request, built on the stack by the connection that runs it and
// valid only while the page handler runs. They view the parsed request; they copy nothing
// until the component asks for a value.
#ifndef TESSALY_SERVER_HOST_OBJECTS_H_
#define TESSALY_SERVER_HOST_OBJECTS_H_

#include <boost/beast/http/fields.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/host.h"
#include "server/session_store.h"

namespace tessaly::server {

// Name of the session cookie.
inline constexpr std::string_view kSessionCookie = "TSESSIONID";
// The session cookie's value for a visitor who holds the first page of the lists
// (host::kPageItem) and nothing else: no stored session stands behind it.
inline constexpr std::string_view kFirstPageMark = "first-page";

// What the connection knows about one request besides its headers and body.
struct RequestLine {
  std::string_view method;
  std::string_view script_name;  // the page's path
  std::string_view query;        // raw, without '?'
  unsigned version = 11;         // 10 or 11
  std::string_view remote_address;
  std::uint16_t remote_port = 0;
  std::uint16_t server_port = 0;
  std::string_view listen_host;  // SERVER_NAME when the request has no Host header
  bool https = false;            // the client reached the site over HTTPS (request_origin.h)
  bool other_origin = false;     // a page of another origin made it (request_origin.h)
};

class PageRequest final : public host::Request {
 public:
  // `headers` and `body` must outlive the object. The form is read only from POST requests
  // with an application/x-www-form-urlencoded body.
  PageRequest(const RequestLine& line, const boost::beast::http::fields& headers,
              std::string_view body);

  std::string Item(std::string_view name) const override;
  std::string ServerVariable(std::string_view name) const override;
  std::string QueryString() const override;
  std::int64_t TotalBytes() const override;
  std::string BinaryRead(std::int64_t count) override;
  bool FromOtherOrigin() const override { return line_.other_origin; }

  // Whether an Item was answered from the request's cookies or server variables, which a cache
  // that keys answers by their URL does not tell apart.
  bool answered_beyond_url() const { return answered_beyond_url_; }

 private:
  const RequestLine& line_;
  const boost::beast::http::fields& headers_;
  std::string_view body_;
  std::string_view form_;  // the body when it is a form, else empty
  std::size_t read_offset_ = 0;
  mutable bool answered_beyond_url_ = false;
};

// Buffers the page in `body`, which the connection reuses from request to request.
class PageResponse final : public host::Response {
 public:
  explicit PageResponse(std::string& body) : body_(body) {}

  void Write(std::string_view text) override;
  void BinaryWrite(std::string_view bytes) override;
  void SetContentType(std::string_view type) override;
  void AddHeader(std::string_view name, std::string_view value) override;
  void SetStatus(int code) override;
  void End() override { ended_ = true; }

  // The type set by the page, or "text/html; charset=utf-8".
  std::string_view content_type() const;
  // The header lines added by the page, each ending in CR LF.
  std::string_view headers() const { return headers_; }
  int status() const { return status_; }
  // Whether the page gave its answer an ETag.
  bool tagged() const { return tagged_; }

 private:
  std::string& body_;
  std::string content_type_;
  std::string headers_;
  int status_ = 200;
  bool ended_ = false;
  bool tagged_ = false;
};

class PageServer final : public host::Server {
 public:
  // `root` is the canonical root folder; `script_name` the page's path.
  PageServer(std::string_view root, std::string_view script_name)
      : root_(root), script_name_(script_name) {}

  std::string MapPath(std::string_view path) const override;

 private:
  std::string_view root_;
  std::string_view script_name_;
};

// The physical path of `path` as seen from the page `script_name` under `root` (see
// host::Server::MapPath). Throws tessaly::InvalidArgument for a path that climbs above the
// root.
std::string MapVirtualPath(std::string_view root, std::string_view script_name,
                           std::string_view path);

// The visitor's session as one request sees it: found by the request's cookie, created at the
// first write, ended by Abandon once the request is done (see Finish). A visitor without a
// session who is only given the first page of the lists gets kFirstPageMark as the cookie
// instead of a stored session, and sees that page item on the next requests; a session started
// later begins with it.
class PageSession final : public host::Session {
 public:
  // `cookie_header` is the request's Cookie header (may be empty). A cookie that names no live
  // session is ignored. A new session takes the next of `ids`. `secure`: the visitor reached the
  // site over HTTPS, and the cookie is to be sent back that way only.
  PageSession(Sessions& store, SessionIds& ids, std::string_view cookie_header,
              bool secure = false);

  std::string Value(std::string_view name) const override;
  void SetValue(std::string_view name, std::string value) override;
  void SetTimeout(int minutes) override;
  void Abandon() override { used_ = abandoned_ = true; }
  void LogOn(std::string_view account) override;
  void EndOtherSessions(std::string_view account) override;

  // Called once when the page is done: removes an abandoned session and gives the value of the
  // Set-Cookie header that the answer needs, if any.
  std::optional<std::string> Finish();

  // Whether the page read or changed the session in any way, so that its answer may differ
  // from one visitor to another.
  bool used() const { return used_; }

 private:
  void EnsureSession();
  std::string Cookie(std::string_view value, std::string_view attributes) const;

  Sessions& store_;
  SessionIds& ids_;
  std::string id_;  // empty: the visitor has no live session
  const bool secure_;
  bool sent_cookie_ = false;
  bool first_page_ = false;  // no live session, and the first page of the lists
  bool marked_ = false;      // the request's cookie was kFirstPageMark
  bool issued_ = false;
  bool abandoned_ = false;
  mutable bool used_ = false;
};

class PageApplication final : public host::Application {};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_HOST_OBJECTS_H_
