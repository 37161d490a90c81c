// A page context over in-memory host objects and a real database file, for calling page
// functions directly.
#ifndef TESSALY_TESTS_SUPPORT_PAGE_FIXTURE_H_
#define TESSALY_TESTS_SUPPORT_PAGE_FIXTURE_H_

#include <memory>
#include <string>

#include "data/database.h"
#include "pages/output_cache.h"
#include "pages/page_context.h"
#include "support/entries.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace tessaly::support {

// The page /log/board with WebPath "log" in a temporary site; the database is made on demand.
class PageFixture {
 public:
  PageFixture() {
    host.server.root = dir.str();
    host.server.page_folder = dir.str() + "/log";
  }

  std::string MakeDatabase() { return support::MakeDatabase(dir.path() / "log"); }

  // A fresh `method` request of `query` on the same session, database and settings; its raw
  // query is the items joined unless `raw_query` is given.
  void NewRequest(Items query = {}, std::string method = "GET", std::string raw_query = {}) {
    if (raw_query.empty()) {
      for (const auto& [name, value] : query) {
        raw_query += (raw_query.empty() ? "" : "&") + name + "=" + value;
      }
    }
    host.request = FakeRequest();
    host.request.query = std::move(query);
    host.request.raw_query = std::move(raw_query);
    host.request.server_variables["REQUEST_METHOD"] = std::move(method);
    host.response = FakeResponse();
  }

  // Runs `page` for the request; returns what it wrote.
  const std::string& Run(pages::PageFunction page) {
    page(Context());
    return host.response.body;
  }

  // The pages keep what they read in `cache`, as they do in the server.
  pages::PageContext Context() {
    return {host.request, host.response, host.server,     host.session, script_name,
            web_path,     hot_news,      image_size,      texts,        database,
            logons,       &cache,        renderings.get()};
  }

  TempDir dir;
  data::Pool pool;
  FakePage host;
  std::string script_name = "/log/board";
  std::string web_path = "log";
  std::int32_t hot_news = 10;
  std::int32_t image_size = 1048576;
  SiteTexts texts;
  pages::PageDatabase database{pool, host.server, web_path};
  pages::LogonGuard logons;
  pages::PublicCache cache{1024 * 1024, 1};
  std::unique_ptr<pages::OutputCache> renderings = cache.NewRenderings();
};

}  // namespace tessaly::support

#endif  // TESSALY_TESTS_SUPPORT_PAGE_FIXTURE_H_
