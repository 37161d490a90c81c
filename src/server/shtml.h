// Serving a static page whose name ends in ".shtml": its include directives (includes.h) are
// replaced by what this server answers for their targets. A page target runs as a GET of its
// own, with the visitor's cookies, address and Host, so the included page sees its own path as
// its script name and writes exactly what it writes when fetched directly; a static target is
// read, and expanded in turn when it is itself a .shtml file.
#ifndef TESSALY_SERVER_SHTML_H_
#define TESSALY_SERVER_SHTML_H_

#include <boost/beast/http/fields.hpp>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "server/config.h"
#include "server/file_texts.h"
#include "server/host_objects.h"
#include "server/includes.h"
#include "server/page_run.h"
#include "server/static_files.h"

namespace tessaly::server {

// A page whose includes are expanded: its name ends in ".shtml", in any letter case.
inline bool IsIncludingPage(std::string_view file_name) {
  return ascii::EndsWithNoCase(file_name, ".shtml");
}

struct ShtmlRequest {
  const PageHost& pages;
  std::function<const PageConfig*(std::string_view path)> find_page;
  const std::filesystem::path& root;          // canonical
  const RequestLine& line;                    // the visitor's request: address, port, version
  const boost::beast::http::fields& headers;  // the visitor's request headers
  StaticPaths& paths;                         // the event loop's (loop_state.h)
  FileTexts& texts;
  IncludeLimits limits;
};

struct ShtmlAnswer {
  std::string body;
  // The session cookie that an included page issued (a whole Set-Cookie value), if any: the
  // answer passes it on, so that the visitor keeps the session the include started.
  std::string session_cookie;
};

// The page in `file` with its includes expanded, within `request.limits`. A page, and every
// static file it includes, is read whole (file_texts.h): a larger or unreadable one is an error
// for the page and a failed include for an included file. Throws std::runtime_error when the page
// cannot be read.
ShtmlAnswer RenderShtml(const ShtmlRequest& request, const StaticFile& file);

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_SHTML_H_
