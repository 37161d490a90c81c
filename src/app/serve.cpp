#include "app/serve.h"

#include <spdlog/spdlog.h>

#include <algorithm>
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
#include "server/url_encoding.h"
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

// Searches read the index: they run apart from the other pages (server/slow_pages.h).
bool IsSearch(std::string_view query) {
  const auto action = server::FindFormItem(query, "action");
  return action && *action == "search";
}

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

// The databases of the site's pages, each once.
std::vector<std::string> DatabaseLocations(const server::ServerConfig& config) {
  if (!config.database_url.empty()) return {config.database_url};
  std::vector<std::string> locations;
  for (const server::PageConfig& page : config.pages) {
    std::string location = DatabaseFile(config.root, page);
    if (std::find(locations.begin(), locations.end(), location) == locations.end()) {
      locations.push_back(std::move(location));
    }
  }
  return locations;
}

// The health check's probe: why the node cannot serve (a database that does not answer, a
// node lease that does not hold), or "" when it can.
server::HealthProbe ProbeFor(std::vector<std::string> locations, data::Pool& pool,
                             const data::RequestStamps* stamps) {
  return [locations = std::move(locations), &pool, stamps] {
    for (const std::string& location : locations) {
      try {
        pool.Get(location)->Probe();
      } catch (const std::exception& error) {
        return std::string("database: ") + error.what();
      }
    }
    return stamps ? stamps->Trouble() : std::string();
  };
}

// What the pages and the database keep, read when the metrics are scraped; the server counts
// its requests and refusals itself. `renderings` are those of every loop, filled in as the
// server makes its loops.
struct WatchedParts {
  data::Pool& pool;
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
                      [stamps] { return stamps->Trouble().empty() ? 1.0 : 0.0; });
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
  if (o.drain_seconds) config.drain_seconds = *o.drain_seconds;
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

  const auto live = std::make_shared<server::LiveSettings>(config);
  const pages::LogonLimits limits{
      .hash_slots = pages::LogonGuard::HashSlotsFor(static_cast<unsigned>(config.threads))};
  ServerWiring wiring;
  Wire(config, pool, limits, wiring);
  pages::LogonGuard logons(limits, std::chrono::steady_clock::now, wiring.visitors);
  pages::PublicCache cache(config.cache_max_bytes, server::ServingThreads(config) +
                                                       static_cast<unsigned>(config.max_searches));
  std::vector<const pages::OutputCache*> all_renderings;
  // Each loop keeps the renderings of its own public pages, and lets its page requests in with
  // a fresh stamp where stamps are not free. A reload may change the texts around the entries:
  // the renderings made with the texts before it go.
  const auto loop_pages = [&](boost::asio::io_context& loop) {
    server::LoopPages made;
    std::shared_ptr<pages::OutputCache> renderings = cache.NewRenderings();
    if (renderings) {
      all_renderings.push_back(renderings.get());
      made.cache_hits = &renderings->hits();
    }
    made.handler = [&pool, &live, &logons, &cache, renderings, version = live->version()](
                       host::ScriptingContext& context, const server::PageConfig& page) mutable {
      const std::uint64_t now = live->version();  // before the settings: never older than they
      const std::shared_ptr<const server::ServerConfig> settings = live->Current();
      if (now != version) {
        version = now;
        if (renderings) renderings->Clear();
      }
      RunLogPage(pool, settings->texts, logons, context, PropertiesOf(page), &cache,
                 renderings.get());
    };
    if (wiring.stamps) made.gate = wiring.stamps->GateFor(loop);
    made.slow = IsSearch;
    return made;
  };
  server::WebServer web(config, loop_pages, wiring.sessions);
  web.SetHealthProbe(ProbeFor(DatabaseLocations(config), pool, wiring.stamps.get()));
  web.SetReload(live, [&flags] { return BuildConfig(flags); });
  web.UseMetrics(MakeMetrics({pool, logons, all_renderings, wiring.stamps.get()}));
  web.Listen();
  std::cout << "tessaly serving " << config.root << " at " << web.Url() << std::endl;
  web.Run();
  spdlog::info("stopped");
  return 0;
}

}  // namespace tessaly::app
