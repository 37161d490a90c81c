#include "server/page_run.h"

#include <spdlog/spdlog.h>

#include <exception>

namespace tessaly::server {
namespace {

namespace http = boost::beast::http;

// What a visitor sees when a page fails; the detail goes to the log only.
constexpr std::string_view kErrorReport = "<p>服务器内部错误，请稍后再试。</p>";

// Whether an answer that the page tagged may go to every visitor who asks for its URL.
bool IsShared(const RequestLine& line, const PageRequest& request, const PageSession& session,
              const std::optional<std::string>& cookie) {
  return (line.method == "GET" || line.method == "HEAD") && !session.used() &&
         !request.answered_beyond_url() && !cookie;
}

}  // namespace

std::optional<std::uint64_t> RunPage(const PageHost& host, const PageConfig& page,
                                     const RequestLine& line, const http::fields& headers,
                                     std::string_view request_body, ResponseHead& head,
                                     std::string& body) {
  body.clear();
  PageRequest request(line, headers, request_body);
  PageResponse response(body);
  PageServer server(host.root, page.path);
  PageSession session(host.sessions, host.session_ids, headers[http::field::cookie], line.https);
  PageApplication application;
  host::ScriptingContext context{request, response, server, session, application};

  bool failed = false;
  try {
    host.handler(context, page);
  } catch (const std::exception& error) {
    failed = true;
    spdlog::error("{} {}: {}", line.method, page.path, error.what());
  } catch (...) {
    failed = true;
    spdlog::error("{} {}: unknown exception", line.method, page.path);
  }
  if (failed) body.append(kErrorReport);
  const auto status =
      failed ? http::status::internal_server_error : static_cast<http::status>(response.status());
  const bool bodiless = status == http::status::not_modified || status == http::status::no_content;
  if (bodiless) body.clear();

  const std::optional<std::string> cookie = session.Finish();
  head.Start(status);
  if (!bodiless) head.Add("Content-Type", response.content_type());
  if (!failed) head.AddLines(response.headers());
  if (failed || !response.tagged()) {
    head.Add("Cache-Control", "private");
  } else if (IsShared(line, request, session, cookie)) {
    head.Add("Cache-Control", host.public_cache_control);
  } else {
    head.Add("Cache-Control", "private, no-cache");
  }
  if (cookie) head.Add("Set-Cookie", *cookie);
  if (bodiless) return std::nullopt;
  return body.size();
}

}  // namespace tessaly::server
