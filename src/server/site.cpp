#include "server/site.h"

#include <spdlog/spdlog.h>
#include <sys/stat.h>

#include <exception>
#include <utility>

#include "server/shtml.h"
#include "server/url_encoding.h"

namespace tessaly::server {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;

}  // namespace

bool Target::RunsPages() const { return page || (file && IsIncludingPage(file->path.native())); }

Site::Site(std::vector<PageConfig> pages, std::filesystem::path root, Sessions& sessions,
           IncludeLimits include_limits, std::string public_cache_control, const Health* health)
    : pages_(std::move(pages)),
      root_(std::move(root)),
      sessions_(sessions),
      include_limits_(include_limits),
      public_cache_control_(std::move(public_cache_control)),
      health_(health) {}

const PageConfig* Site::FindPage(std::string_view path) const {
  for (const PageConfig& page : pages_) {
    if (page.path == path) return &page;
  }
  return nullptr;
}

Target Site::Find(std::string_view method, std::string_view path, LoopState& loop) const {
  Target target;
  if (health_ && path == health_->path()) {
    target.health = true;
    return target;
  }
  target.page = FindPage(path);
  if (!target.page && method != "POST") target.file = loop.paths.Resolve(root_, path);
  return target;
}

PageHost Site::Host(LoopState& loop) const {
  return PageHost{loop.pages.handler, sessions_, root_.native(), loop.session_ids,
                  public_cache_control_};
}

void Site::Handle(const SiteRequest& request, const Target& target, LoopState& loop,
                  Answer& answer) const {
  answer.Clear();
  if (target.page) return AnswerPage(request, *target.page, loop, answer);
  if (request.line.method == "POST") {
    return answer.Refuse(http::status::method_not_allowed, "Allow", "GET, HEAD");
  }
  if (target.health) return health_->Respond(answer);
  if (!target.file) return answer.Refuse(http::status::not_found);
  if (IsIncludingPage(target.file->path.native())) {
    return AnswerIncludingPage(request, *target.file, loop, answer);
  }
  AnswerFile(request, *target.file, loop, answer);
}

void Site::AnswerPage(const SiteRequest& request, const PageConfig& page, LoopState& loop,
                      Answer& answer) const {
  if (request.line.method == "POST" &&
      IsFormContentType(request.headers[http::field::content_type]) &&
      !HasValidEscapes(request.body)) {
    return answer.Refuse(http::status::bad_request);
  }
  RequestLine line = request.line;
  line.script_name = page.path;
  answer.content_length =
      RunPage(Host(loop), page, line, request.headers, request.body, answer.head, answer.body);
}

// A page with includes is made anew for every request: it holds what the included pages say
// now, so it carries no Last-Modified and is not answered 304.
void Site::AnswerIncludingPage(const SiteRequest& request, const StaticFile& file, LoopState& loop,
                               Answer& answer) const {
  const PageHost host = Host(loop);
  const ShtmlRequest shtml{host,
                           [this](std::string_view target) { return FindPage(target); },
                           root_,
                           request.line,
                           request.headers,
                           loop.paths,
                           loop.texts,
                           include_limits_};
  ShtmlAnswer rendered;
  try {
    rendered = RenderShtml(shtml, file);
  } catch (const std::exception& error) {
    spdlog::error("GET {}: {}", file.path.native(), error.what());
    return answer.Refuse(http::status::internal_server_error);
  }
  answer.body = std::move(rendered.body);
  answer.head.Start(http::status::ok);
  answer.head.Add("Content-Type", "text/html; charset=utf-8");
  answer.head.Add("Cache-Control", "private");
  if (!rendered.session_cookie.empty()) answer.head.Add("Set-Cookie", rendered.session_cookie);
  answer.content_length = answer.body.size();
}

// A small file is answered from memory; a large one, or one that changed while it was read,
// from the disk.
void Site::AnswerFile(const SiteRequest& request, const StaticFile& file, LoopState& loop,
                      Answer& answer) const {
  const auto text = loop.texts.Text(file);
  struct stat info = file.info;
  if (!text) {
    beast::error_code ec;
    answer.file.open(file.path.c_str(), beast::file_mode::scan, ec);
    // A file replaced since it was resolved has its first bytes read again.
    if (ec || ::fstat(answer.file.native_handle(), &info) != 0 || !S_ISREG(info.st_mode) ||
        (!SameFileVersion(info, file.info) && HoldsDatabaseHeader(answer.file.native_handle()))) {
      return answer.Refuse(http::status::not_found);
    }
  }

  char date[32];
  const std::string_view modified = HttpDate(info.st_mtim.tv_sec, date);
  if (request.headers[http::field::if_modified_since] == modified) {
    answer.Clear();
    answer.head.Start(http::status::not_modified);
    answer.head.Add("Last-Modified", modified);
    return;
  }
  answer.head.Start(http::status::ok);
  answer.head.Add("Content-Type", ContentTypeFor(file.path.native()));
  answer.head.Add("Last-Modified", modified);
  if (text) {
    answer.body.assign(*text);
    answer.content_length = text->size();
  } else {
    answer.content_length = static_cast<std::uint64_t>(info.st_size);
  }
}

}  // namespace tessaly::server
