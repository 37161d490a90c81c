// What every page function is given: the request's host objects, the page's three properties,
// the script name on which every link is built, the site's texts, the page's database and the
// logon state that all requests of the server share.
// A page function writes its whole answer through `response` and keeps nothing afterwards;
// everything it decides is a local of its own or a value it returns.
#ifndef TESSALY_PAGES_PAGE_CONTEXT_H_
#define TESSALY_PAGES_PAGE_CONTEXT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/database.h"
#include "data/recordset.h"
#include "host/host.h"
#include "pages/logon_guard.h"
#include "pages/site_texts.h"

namespace tessaly::pages {

// The page's log database, opened on first use. Each recordset and each command holds a
// connection of the pool until it ends, unless it is opened inside ReadOneState.
class PageDatabase {
 public:
  // `pool` must outlive the object; `server` and `web_path` locate the file (data/location.h).
  PageDatabase(data::Pool& pool, const host::Server& server, const std::string& web_path)
      : pool_(pool), server_(server), web_path_(web_path) {}

  // The rows of `query`, positioned on the first. Throws DataError.
  std::unique_ptr<data::Recordset> Open(data::Query query) const;

  // A connection for Delete and Update statements. Throws DataError.
  data::Command Command() const;

  // Brings the search index up to date with every change made since it was last used.
  void CatchUpSearchIndex() const;

  // What is kept per state of the database is kept under these (output_cache.h). Id asks the
  // database nothing; CurrentStamp asks a database server at most once per request, or takes
  // the stamp lent to the request (data::StampLoan): a stamp read after the request began is
  // fresh enough for all of it, until the request itself writes (Open for AddNew/Update,
  // Command); after that it reads its own. Throw DataError when the database cannot be opened.
  std::uint64_t Id() const { return Get().id(); }
  data::Stamp CurrentStamp() const;

  // The search of the entries that contain every one of `words` (data/search.h): their count,
  // and a page of them of `total`.
  data::Query SearchCountQuery(const std::vector<std::string>& words) const {
    return Get().SearchCountQuery(words);
  }
  data::Query SearchPageQuery(const std::vector<std::string>& words, std::int64_t first,
                              std::int64_t rows, std::int64_t total) const {
    return Get().SearchPageQuery(words, first, rows, total);
  }

  // Runs `read`, whose recordsets (Open) then all read one committed state in one read
  // transaction; `read` and the caller are given that state's stamp (data::Database).
  data::Stamp ReadOneState(
      const std::function<void(data::Connection&, const data::Stamp& state)>& read) const;

 private:
  data::Database& Get() const;

  data::Pool& pool_;
  const host::Server& server_;
  const std::string& web_path_;
  mutable data::Database* database_ = nullptr;   // once found
  mutable data::Connection* reading_ = nullptr;  // inside ReadOneState
  mutable std::optional<data::Stamp> stamp_;     // read in this request, since its last write
  mutable bool wrote_ = false;                   // a stamp lent to the request is too old now
};

class OutputCache;
class PublicCache;

struct PageContext {
  host::Request& request;
  host::Response& response;
  host::Server& server;
  host::Session& session;

  // The page's own path (SCRIPT_NAME as the request gave it): every self-link starts with it.
  const std::string& script_name;

  const std::string& web_path;
  std::int32_t hot_news_rcs;
  std::int32_t image_size;

  const SiteTexts& texts;
  const PageDatabase& database;
  LogonGuard& logons;

  // What the public pages keep between requests: what the server's loops share, and the
  // renderings of the loop that runs this request (output_cache.h); null keeps nothing.
  PublicCache* cache = nullptr;
  OutputCache* renderings = nullptr;
};

// A page: writes the whole answer for one request.
using PageFunction = void (*)(const PageContext&);

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_PAGE_CONTEXT_H_
