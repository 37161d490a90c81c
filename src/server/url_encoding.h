// Decoding of the url-encoded texts a request carries: the path, the query string, form bodies
// and the Cookie header. Pure functions over the raw bytes; nothing here allocates unless it
// returns a decoded value.
#ifndef TESSALY_SERVER_URL_ENCODING_H_
#define TESSALY_SERVER_URL_ENCODING_H_

#include <optional>
#include <string>
#include <string_view>

namespace tessaly::server {

// A request's target in its parts: the origin form "/path?query", or the absolute form
// "http://host:port/path?query" (or https, in any letter case), which a server must accept as
// well (RFC 9112, section 3.2.2); its host then stands for the Host header. `authority` is ""
// for the origin form; an absolute form without a path has the path "/". The parts are views
// of `target`, the query without its '?'.
struct RequestTarget {
  std::string_view authority;
  std::string_view path;
  std::string_view query;
};

// Nothing for a target of any other form, or an absolute form whose authority is empty, holds
// user information ("user@host") or a character that no host or port has.
std::optional<RequestTarget> SplitRequestTarget(std::string_view target);

// True when every '%' in `text` is followed by two hex digits. A request whose path, query
// string or url-encoded form body fails this is refused whole (400) rather than guessed at.
bool HasValidEscapes(std::string_view text);

// Decodes %XX escapes, and '+' to a space when `plus_is_space` (form encoding; not for paths).
// Empty when an escape is bad.
std::optional<std::string> PercentDecode(std::string_view text, bool plus_is_space);

// The item `name` of an application/x-www-form-urlencoded text ("a=1&b=2&a=3"): the decoded
// values of every pair whose decoded name equals `name` exactly, joined by ", " in order. A
// pair without '=' has an empty value. Empty optional when no pair has the name. Bad escapes
// are taken literally (callers that care check HasValidEscapes first).
std::optional<std::string> FindFormItem(std::string_view encoded, std::string_view name);

// The cookie `name` of a Cookie header ("a=1; b=2"), values decoded as in a form and joined by
// ", " when the name repeats. Empty optional when absent.
std::optional<std::string> FindCookie(std::string_view header, std::string_view name);

// True when `content_type` is application/x-www-form-urlencoded, whatever its case and
// parameters.
bool IsFormContentType(std::string_view content_type);

// `target` (a request target, path and query) with the value of every query item named
// "password" or "chkpassword" (after decoding) replaced by "***", so that a log never holds a
// password that a form sent in its query.
std::string MaskPasswords(std::string_view target);

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_URL_ENCODING_H_
