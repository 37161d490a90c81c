#include "server/page_run.h"

#include <spdlog/spdlog.h>

#include <exception>

namespace tessaly::server {
namespace {

namespace http = boost::beast::http;

// What a visitor sees when a page fails; the detail goes to the log only.
constexpr std::string_view kErrorReport = "<p>服务器内部错误，请稍后再试。</p>";

}  // namespace

void RunPage(const PageHost& host, const PageConfig& page, const RequestLine& line,
             const http::fields& headers, std::string_view request_body, ResponseHead& head,
             std::string& body) {
  body.clear();
  PageRequest request(line, headers, request_body);
  PageResponse response(body);
  PageServer server(host.root, page.path);
  PageSession session(host.sessions, headers[http::field::cookie]);
  PageApplication application;
  host::ScriptingContext context{request, response, server, session, application};

  http::status status = http::status::ok;
  try {
    host.handler(context, page);
  } catch (const std::exception& error) {
    status = http::status::internal_server_error;
    spdlog::error("{} {}: {}", line.method, page.path, error.what());
  } catch (...) {
    status = http::status::internal_server_error;
    spdlog::error("{} {}: unknown exception", line.method, page.path);
  }
  if (status != http::status::ok) body.append(kErrorReport);

  head.Start(status);
  head.Add("Content-Type", response.content_type());
  head.Add("Cache-Control", "private");
  if (auto cookie = session.Finish()) head.Add("Set-Cookie", *cookie);
}

}  // namespace tessaly::server
