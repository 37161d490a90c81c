#include "app/serve.h"

#include <spdlog/spdlog.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "app/database_sessions.h"
#include "app/site.h"
#include "base/errors.h"
#include "component/log.h"
#include "component/run_page.h"
#include "data/database.h"
#include "pages/output_cache.h"
#include "server/metrics.h"
#include "server/web_server.h"

namespace fs = std::filesystem;

namespace tessaly::app {
namespace {

PageProperties PropertiesOf(const server::PageConfig& page) {
  return {page.web_path, page.hot_news, page.image_size};
}

// Opens the database of every page (creating nothing) and brings its search index up to date,
// so that a site that cannot be served says so before it listens.
void CheckPages(const server::ServerConfig& config, data::Pool& pool) {
  for (const server::PageConfig& page : config.pages) {
    try {
      CheckPageProperties(PropertiesOf(page));
    } catch (const Error& e) {
      throw std::runtime_error("page " + page.path + ": " + e.what());
    }
    const bool on_server = !config.database_url.empty();
    const std::string location = on_server ? config.database_url : DatabaseFile(config.root, page);
    try {
      pool.Get(location);
      CatchUpSearchIndex(location);
    } catch (const DataError& e) {
      if (!on_server && !fs::exists(location)) {
        throw std::runtime_error("no database at " + location + "; run tessaly init --root " +
                                 config.root + " --page " + page.path + " --web-path '" +
                                 page.web_path.ToString() + "' --user NAME --password-stdin");
      }
      throw std::runtime_error(e.what());
    }
  }
}

// What serving a database server needs beside the pages: the sessions that every node shares
// (when configured), and the holder of its requests' stamps. Empty for a site's files.
struct ServerWiring {
  std::shared_ptr<data::VisitorTables> visitors;
  std::shared_ptr<server::Sessions> sessions;
  std::optional<SessionSweeper> sweeper;
  std::unique_ptr<data::RequestStamps> stamps;
};

void Wire(const server::ServerConfig& config, data::Pool& pool, const pages::LogonLimits& limits,
          ServerWiring& wiring) {
  if (config.sessions_in_database) {
    if (config.database_url.empty()) {
      throw std::runtime_error("[session] store = \"database\" needs a [database] url");
    }
    wiring.visitors = pool.Get(config.database_url)->Visitors(config.session_timeout_minutes);
    wiring.sessions = std::make_shared<DatabaseSessions>(wiring.visitors);
    wiring.sweeper.emplace(wiring.visitors, config.max_sessions, limits.window);
  }
  if (config.database_url.empty()) return;
  // On a database server, a request learns the newest state from what the node keeps rather
  // than from a round trip of its own.
  wiring.stamps = pool.Get(config.database_url)->ServeRequests();
}

// What the pages and the database keep, read when the metrics are scraped; the server counts
// its requests and refusals itself. `renderings` are those of every loop, filled in as the
// server makes its loops.
struct WatchedParts {
  data::Pool& pool;
  pages::PublicCache& cache;
  const pages::LogonGuard& logons;
  const std::vector<const pages::OutputCache*>& renderings;
  const data::RequestStamps* stamps;  // on a database server
};

std::shared_ptr<server::ServerMetrics> MakeMetrics(const WatchedParts& parts) {
  auto metrics = std::make_shared<server::ServerMetrics>(server::RouteKinds(PageActions()));
  const auto sum = [&renderings = parts.renderings](auto figure) {
    return [&renderings, figure] {
      double total = 0;
      for (const pages::OutputCache* kept : renderings) total += static_cast<double>(figure(*kept));
      return total;
    };
  };
  metrics->AddCounter("tessaly_cache_hits_total", "Public pages written from the kept renderings.",
                      sum([](const pages::OutputCache& kept) { return kept.hits().load(); }));
  metrics->AddCounter("tessaly_cache_misses_total",
                      "Public pages read from the database (and then kept).",
                      sum([](const pages::OutputCache& kept) { return kept.misses(); }));
  metrics->AddGauge("tessaly_cache_bytes", "Bytes that the kept renderings hold.",
                    sum([](const pages::OutputCache& kept) { return kept.bytes_held(); }));

  data::Pool& pool = parts.pool;
  metrics->AddGauge("tessaly_db_pool_connections", "Database connections open, lent or idle.",
                    [&pool] { return static_cast<double>(pool.Figures().open); });
  metrics->AddGauge("tessaly_db_pool_idle_connections", "Database connections open and idle.",
                    [&pool] { return static_cast<double>(pool.Figures().idle); });
  metrics->AddCounter("tessaly_db_pool_waits_total",
                      "Requests that found every database connection lent and waited.",
                      [&pool] { return static_cast<double>(pool.Figures().waits); });
  metrics->AddCounter("tessaly_db_pool_wait_seconds_total",
                      "Time that requests waited for a database connection.",
                      [&pool] { return pool.Figures().wait_seconds; });

  pages::PublicCache& cache = parts.cache;
  metrics->AddGauge("tessaly_searches_running", "Searches reading the index now.",
                    [&cache] { return static_cast<double>(cache.searches_running()); });
  metrics->AddCounter("tessaly_searches_refused_total",
                      "Searches refused (503) because the most allowed at once were running.",
                      [&cache] { return static_cast<double>(cache.searches_refused()); });

  std::vector<std::pair<std::string, server::ServerMetrics::Reader>> refusals;
  for (std::size_t i = 0; i < pages::kLogonRefusalNames.size(); ++i) {
    const auto why = static_cast<pages::LogonRefusal>(i);
    refusals.emplace_back(std::string(pages::kLogonRefusalNames[i]), [&logons = parts.logons, why] {
      return static_cast<double>(logons.refusals(why));
    });
  }
  metrics->AddCounters("tessaly_logon_refusals_total", "Logons refused, by cause.", "cause",
                       refusals);

  if (const data::RequestStamps* stamps = parts.stamps) {
    metrics->AddGauge("tessaly_node_lease_holds",
                      "1 while the node's lease on the newest state holds, else 0.",
                      [stamps] { return stamps->LeaseHolds() ? 1.0 : 0.0; });
    metrics->AddCounter("tessaly_writer_node_waits_total",
                        "Commits that waited until every node had seen them.", [&pool] {
                          return static_cast<double>(
                              pool.Figures().writer_waits.value_or(data::WriterWaits{}).count);
                        });
    metrics->AddCounter("tessaly_writer_node_wait_seconds_total",
                        "Time that commits waited until every node had seen them.", [&pool] {
                          return pool.Figures().writer_waits.value_or(data::WriterWaits{}).seconds;
                        });
  }
  return metrics;
}

}  // namespace

server::ServerConfig BuildConfig(const ServeFlags& o) {
  server::ServerConfig config;
  if (!o.config_file.empty()) server::LoadConfigFile(o.config_file, config);
  if (o.root) config.root = *o.root;
  if (o.listen) config.listen = *o.listen;
  if (o.threads) config.threads = *o.threads;
  if (o.database) config.database_url = *o.database;
  if (config.pages.empty()) config.pages.emplace_back();
  server::PageConfig& first = config.pages.front();
  if (o.page) first.path = *o.page;
  if (o.web_path) first.web_path = *o.web_path;
  if (o.hot_news) first.hot_news = *o.hot_news;
  if (o.image_size) first.image_size = *o.image_size;
  return config;
}

int RunServe(const ServeFlags& flags) {
  const server::ServerConfig config = BuildConfig(flags);
  if (!fs::is_directory(config.root)) {
    throw std::runtime_error("the site folder " + config.root + " does not exist");
  }
  data::Pool pool(config.database_url);
  CheckPages(config, pool);

  const SiteTexts& texts = config.texts;
  const pages::LogonLimits limits{
      .hash_slots = pages::LogonGuard::HashSlotsFor(static_cast<unsigned>(config.threads))};
  ServerWiring wiring;
  Wire(config, pool, limits, wiring);
  pages::LogonGuard logons(limits, std::chrono::steady_clock::now, wiring.visitors);
  pages::PublicCache cache(config.cache_max_bytes, server::ServingThreads(config),
                           config.max_searches);
  std::vector<const pages::OutputCache*> all_renderings;
  // Each loop keeps the renderings of its own public pages, and lets its page requests in with
  // a fresh stamp where stamps are not free.
  const auto loop_pages = [&](boost::asio::io_context& loop) {
    server::LoopPages made;
    std::shared_ptr<pages::OutputCache> renderings = cache.NewRenderings();
    if (renderings) {
      all_renderings.push_back(renderings.get());
      made.cache_hits = &renderings->hits();
    }
    made.handler = [&pool, &texts, &logons, &cache, renderings](host::ScriptingContext& context,
                                                                const server::PageConfig& page) {
      RunLogPage(pool, texts, logons, context, PropertiesOf(page), &cache, renderings.get());
    };
    if (wiring.stamps) made.gate = wiring.stamps->GateFor(loop);
    return made;
  };
  server::WebServer web(config, loop_pages, wiring.sessions);
  web.UseMetrics(MakeMetrics({pool, cache, logons, all_renderings, wiring.stamps.get()}));
  web.Listen();
  std::cout << "tessaly serving " << config.root << " at " << web.Url() << std::endl;
  web.Run();
  spdlog::info("stopped");
  return 0;
}

}  // namespace tessaly::app
