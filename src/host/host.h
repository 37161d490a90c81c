// The page host's objects as the component sees them. The web server implements them for one
// request; tests implement them in memory. The component never sees HTTP.
//
// All text is UTF-8. Every call either does what it says or throws tessaly::Error.
#ifndef TESSALY_HOST_HOST_H_
#define TESSALY_HOST_HOST_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "base/errors.h"

namespace tessaly::host {

class Request {
 public:
  virtual ~Request() = default;

  // The general item lookup: the first of query string, form (url-encoded POST bodies),
  // cookies and server variables that has `name` (exact, case-sensitive). Several values of
  // one name in that collection are joined by ", ". Empty when absent.
  virtual std::string Item(std::string_view name) const = 0;

  // A server variable such as "SCRIPT_NAME" or "HTTP_USER_AGENT"; empty when unknown.
  virtual std::string ServerVariable(std::string_view name) const = 0;

  // The raw query string as sent (without "?"), empty when there is none.
  virtual std::string QueryString() const = 0;

  // Size of the raw request body in bytes.
  virtual std::int64_t TotalBytes() const = 0;

  // Up to `count` bytes of the raw body from where the last read stopped.
  virtual std::string BinaryRead(std::int64_t count) = 0;

  // True when the browser tells that a page of another origin (another scheme, host or port,
  // such as a sibling site or another port of this host) made the request. A request that tells
  // nothing of where it was made, as a tool's, is not from another origin.
  virtual bool FromOtherOrigin() const = 0;
};

class Response {
 public:
  virtual ~Response() = default;

  // Appends text to the page, in call order. Ignored after End().
  virtual void Write(std::string_view text) = 0;

  // Appends bytes unchanged. Ignored after End().
  virtual void BinaryWrite(std::string_view bytes) = 0;

  // The content type of the answer; "text/html; charset=utf-8" unless set.
  virtual void SetContentType(std::string_view type) = 0;

  // Adds one header line to the answer. Throws InvalidArgument unless CheckHeader accepts it.
  virtual void AddHeader(std::string_view name, std::string_view value) = 0;

  // The answer's status code, 200 unless set. A 304 (or 204) answer is sent without a body.
  // Throws InvalidArgument for a code outside 200 to 599.
  virtual void SetStatus(int code) = 0;

  // Nothing more is written to this answer.
  virtual void End() = 0;
};

// What AddHeader accepts: a header name made of token characters that is not one of the
// headers the host writes itself (Content-Length, Transfer-Encoding, Connection, Content-Type,
// Set-Cookie), and a value without CR, LF or NUL, so that no page can split or reframe the
// answer. Throws InvalidArgument otherwise.
inline void CheckHeader(std::string_view name, std::string_view value) {
  constexpr std::string_view kTokenSymbols = "!#$%&'*+-.^_`|~";
  bool token = !name.empty();
  for (char c : name) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    token = token && (alnum || kTokenSymbols.find(c) != std::string_view::npos);
  }
  if (!token) throw InvalidArgument("Response.AddHeader: bad header name");
  for (std::string_view own :
       {"Content-Length", "Transfer-Encoding", "Connection", "Content-Type", "Set-Cookie"}) {
    if (ascii::EqualsNoCase(name, own)) {
      throw InvalidArgument("Response.AddHeader: " + std::string(own) + " is the host's own");
    }
  }
  if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    throw InvalidArgument("Response.AddHeader: line break in the value of " + std::string(name));
  }
}

// What SetStatus accepts: a final status code.
inline void CheckStatus(int code) {
  if (code < 200 || code > 599) {
    throw InvalidArgument("Response.Status: " + std::to_string(code) + " is not a final status");
  }
}

class Server {
 public:
  virtual ~Server() = default;

  // "." gives the physical folder of the running page, "/" (or "\") the site's root folder;
  // no trailing separator. Other paths are mapped relative to the page's folder, or to the root
  // when they start with a separator.
  virtual std::string MapPath(std::string_view path) const = 0;
};

class Session {
 public:
  virtual ~Session() = default;

  // A value kept for the visitor between requests; empty when never set.
  virtual std::string Value(std::string_view name) const = 0;
  virtual void SetValue(std::string_view name, std::string value) = 0;

  // Minutes an idle session lives.
  virtual void SetTimeout(int minutes) = 0;

  // The session and its items end when the request is done.
  virtual void Abandon() = 0;

  // The visitor has logged on as `account`: the session goes on under a new id, with its items
  // and time-out, and the old id ends, so that an id known before the logon never holds it.
  // From then on the session belongs to `account`, and new visitors never end it to make room.
  virtual void LogOn(std::string_view account) = 0;

  // Ends every session that belongs to `account` except this one.
  virtual void EndOtherSessions(std::string_view account) = 0;
};

// The page state of a visitor who has been shown the first page of a paged list: the session
// item that the lists keep the page in, and the first page. A visitor who holds nothing else
// has no stored session for it; the host remembers the state with the visitor's cookie, and a
// session started later begins with it.
inline constexpr std::string_view kPageItem = "tPage";
inline constexpr std::string_view kFirstPage = "1";

// Held and released, never called.
class Application {
 public:
  virtual ~Application() = default;
};

// What one page request hands to the component.
struct ScriptingContext {
  Request& request;
  Response& response;
  Server& server;
  Session& session;
  Application& application;
};

}  // namespace tessaly::host

#endif  // TESSALY_HOST_HOST_H_
