#include "server/host_objects.h"

#include <algorithm>
#include <boost/beast/http/status.hpp>
#include <charconv>
#include <utility>
#include <vector>

#include "base/ascii.h"
#include "base/errors.h"
#include "server/settings.h"
#include "server/url_encoding.h"

namespace tessaly::server {
namespace {

namespace http = boost::beast::http;

constexpr std::string_view kHtml = "text/html; charset=utf-8";

std::string Decimal(std::uint64_t value) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, result.ptr);
}

// Host header without its port; brackets of an IPv6 literal are kept.
std::string_view HostName(std::string_view host) {
  if (!host.empty() && host.front() == '[') {
    std::size_t close = host.find(']');
    return close == std::string_view::npos ? host : host.substr(0, close + 1);
  }
  return host.substr(0, host.find(':'));
}

// "HTTP_USER_AGENT" names the header "User-Agent": upper case, '-' as '_'.
bool HeaderMatchesVariable(std::string_view header, std::string_view variable) {
  if (header.size() != variable.size()) return false;
  for (std::size_t i = 0; i < header.size(); ++i) {
    char c = ascii::ToUpper(header[i]);
    if (c == '-') c = '_';
    if (c != variable[i]) return false;
  }
  return true;
}

// The values of the headers whose name `same` finds equal to `name`, joined by ", " in order.
std::string JoinedHeaders(const http::fields& headers, std::string_view name,
                          bool (*same)(std::string_view header, std::string_view name)) {
  std::string joined;
  bool first = true;
  for (const auto& field : headers) {
    if (!same(field.name_string(), name)) continue;
    if (!first) joined.append(", ");
    joined.append(field.value());
    first = false;
  }
  return joined;
}

bool IsSessionId(std::string_view id) {
  return id.size() == 32 && std::all_of(id.begin(), id.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

}  // namespace

PageRequest::PageRequest(const RequestLine& line, const http::fields& headers,
                         std::string_view body)
    : line_(line), headers_(headers), body_(body) {
  if (line.method == "POST" && IsFormContentType(headers[http::field::content_type])) {
    form_ = body;
  }
}

std::string PageRequest::Item(std::string_view name) const {
  if (auto value = FindFormItem(line_.query, name)) return std::move(*value);
  if (!form_.empty()) {
    if (auto value = FindFormItem(form_, name)) return std::move(*value);
  }
  std::optional<std::string> cookie;
  auto [first, last] = headers_.equal_range(http::field::cookie);
  for (auto field = first; field != last; ++field) {
    if (auto value = FindCookie(field->value(), name)) {
      if (cookie) {
        cookie->append(", ").append(*value);
      } else {
        cookie = std::move(value);
      }
    }
  }
  if (cookie) {
    answered_beyond_url_ = true;
    return std::move(*cookie);
  }
  std::string variable = ServerVariable(name);
  if (!variable.empty()) answered_beyond_url_ = true;
  return variable;
}

std::string PageRequest::ServerVariable(std::string_view name) const {
  if (name.starts_with("HTTP_")) {
    return JoinedHeaders(headers_, name.substr(5), HeaderMatchesVariable);
  }
  if (name == "SCRIPT_NAME" || name == "PATH_INFO" || name == "URL") {
    return std::string(line_.script_name);
  }
  if (name == "REQUEST_METHOD") return std::string(line_.method);
  if (name == "QUERY_STRING") return std::string(line_.query);
  if (name == "REMOTE_ADDR" || name == "REMOTE_HOST") return std::string(line_.remote_address);
  if (name == "REMOTE_PORT") return Decimal(line_.remote_port);
  if (name == "SERVER_NAME") {
    std::string host = JoinedHeaders(headers_, "Host", ascii::EqualsNoCase);
    return host.empty() ? std::string(line_.listen_host) : std::string(HostName(host));
  }
  if (name == "SERVER_PORT") return Decimal(line_.server_port);
  if (name == "SERVER_PROTOCOL") return line_.version == 10 ? "HTTP/1.0" : "HTTP/1.1";
  if (name == "SERVER_SOFTWARE") return "Tessaly";
  if (name == "GATEWAY_INTERFACE") return "CGI/1.1";
  if (name == "HTTPS") return line_.https ? "on" : "off";
  if (name == "CONTENT_TYPE") return JoinedHeaders(headers_, "Content-Type", ascii::EqualsNoCase);
  if (name == "CONTENT_LENGTH") return Decimal(body_.size());
  return {};
}

std::string PageRequest::QueryString() const { return std::string(line_.query); }

std::int64_t PageRequest::TotalBytes() const { return static_cast<std::int64_t>(body_.size()); }

std::string PageRequest::BinaryRead(std::int64_t count) {
  if (count <= 0 || read_offset_ >= body_.size()) return {};
  std::size_t take = std::min(static_cast<std::uint64_t>(count),
                              static_cast<std::uint64_t>(body_.size() - read_offset_));
  std::string bytes(body_.substr(read_offset_, take));
  read_offset_ += take;
  return bytes;
}

void PageResponse::Write(std::string_view text) {
  if (!ended_) body_.append(text);
}

void PageResponse::BinaryWrite(std::string_view bytes) {
  if (!ended_) body_.append(bytes);
}

void PageResponse::SetContentType(std::string_view type) {
  if (type.find_first_of("\r\n") != std::string_view::npos) {
    throw InvalidArgument("Response.ContentType: line break in the content type");
  }
  content_type_.assign(type);
}

void PageResponse::AddHeader(std::string_view name, std::string_view value) {
  host::CheckHeader(name, value);
  if (ascii::EqualsNoCase(name, "ETag")) tagged_ = true;
  headers_.append(name).append(": ").append(value).append("\r\n");
}

void PageResponse::SetStatus(int code) {
  host::CheckStatus(code);
  if (http::int_to_status(static_cast<unsigned>(code)) == http::status::unknown) {
    throw InvalidArgument("Response.Status: unknown status " + std::to_string(code));
  }
  status_ = code;
}

std::string_view PageResponse::content_type() const {
  return content_type_.empty() ? kHtml : std::string_view(content_type_);
}

std::string MapVirtualPath(std::string_view root, std::string_view script_name,
                           std::string_view path) {
  std::vector<std::string_view> segments;
  auto push_segments = [&segments](std::string_view text, bool keep_last) {
    while (!text.empty()) {
      std::size_t slash = text.find_first_of("/\\");
      std::string_view segment = text.substr(0, slash);
      bool last = slash == std::string_view::npos;
      text = last ? std::string_view() : text.substr(slash + 1);
      if (last && !keep_last) break;
      if (segment.empty() || segment == ".") continue;
      if (segment == "..") {
        if (segments.empty()) throw InvalidArgument("Server.MapPath: path leaves the site");
        segments.pop_back();
        continue;
      }
      segments.push_back(segment);
    }
  };
  if (path.empty() || (path.front() != '/' && path.front() != '\\')) {
    push_segments(script_name, false);  // the page's folder
  }
  push_segments(path, true);

  std::string mapped(root);
  if (mapped.size() > 1 && mapped.back() == '/') mapped.pop_back();
  for (std::string_view segment : segments) {
    if (mapped.empty() || mapped.back() != '/') mapped.push_back('/');
    mapped.append(segment);
  }
  return mapped;
}

std::string PageServer::MapPath(std::string_view path) const {
  return MapVirtualPath(root_, script_name_, path);
}

PageSession::PageSession(Sessions& store, SessionIds& ids, std::string_view cookie_header,
                         bool secure)
    : store_(store), ids_(ids), secure_(secure) {
  auto cookie = FindCookie(cookie_header, kSessionCookie);
  if (!cookie) return;
  sent_cookie_ = true;
  if (*cookie == kFirstPageMark) {
    first_page_ = marked_ = true;
  } else if (IsSessionId(*cookie) && store_.Touch(*cookie)) {
    id_ = std::move(*cookie);
  }
}

std::string PageSession::Value(std::string_view name) const {
  used_ = true;
  if (!id_.empty()) return store_.Value(id_, name);
  return first_page_ && name == host::kPageItem ? std::string(host::kFirstPage) : std::string();
}

void PageSession::EnsureSession() {
  if (!id_.empty()) return;
  id_ = store_.Create(ids_);
  issued_ = true;
  if (std::exchange(first_page_, false)) {
    store_.SetValue(id_, host::kPageItem, std::string(host::kFirstPage));
  }
}

void PageSession::SetValue(std::string_view name, std::string value) {
  used_ = true;
  if (id_.empty() && name == host::kPageItem && value == host::kFirstPage) {
    first_page_ = true;
    return;
  }
  EnsureSession();
  store_.SetValue(id_, name, std::move(value));
}

void PageSession::SetTimeout(int minutes) {
  used_ = true;
  if (minutes < kSessionTimeoutMinutes.min || minutes > kSessionTimeoutMinutes.max) {
    throw InvalidArgument("Session.Timeout: " + std::to_string(minutes) +
                          " minutes is out of range");
  }
  EnsureSession();
  store_.SetTimeout(id_, minutes);
}

void PageSession::LogOn(std::string_view account) {
  used_ = true;
  const bool first_page = std::exchange(first_page_, false);
  id_ = store_.Renew(ids_, id_, account);
  issued_ = true;
  if (first_page) store_.SetValue(id_, host::kPageItem, std::string(host::kFirstPage));
}

void PageSession::EndOtherSessions(std::string_view account) {
  used_ = true;
  store_.EndAccount(account, id_);
}

std::string PageSession::Cookie(std::string_view value, std::string_view attributes) const {
  std::string cookie(kSessionCookie);
  cookie.append("=").append(value).append(attributes);
  cookie.append("; Path=/; HttpOnly; SameSite=Strict");
  if (secure_) cookie.append("; Secure");
  return cookie;
}

std::optional<std::string> PageSession::Finish() {
  if (abandoned_) {
    if (!id_.empty()) store_.Remove(id_);
    if (sent_cookie_) return Cookie("", "; Max-Age=0");
    return std::nullopt;
  }
  if (issued_) return Cookie(id_, "");
  if (first_page_ && !marked_) return Cookie(kFirstPageMark, "");
  return std::nullopt;
}

}  // namespace tessaly::server
