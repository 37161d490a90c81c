// The embedded web server: serves the configured pages through a PageHandler and every other
// path as a static file under the site's root folder.
#ifndef TESSALY_SERVER_WEB_SERVER_H_
#define TESSALY_SERVER_WEB_SERVER_H_

#include <functional>
#include <memory>
#include <string>

#include "server/config.h"
#include "server/health.h"
#include "server/live_settings.h"
#include "server/page_run.h"
#include "server/session_store.h"

namespace tessaly::server {

class ServerCore;
class ServerMetrics;

class WebServer {
 public:
  // `pages`: the gate and handler of each event loop's page requests (page_run.h).
  // `sessions`: where the visitors' sessions are kept; null: in this process's memory.
  WebServer(ServerConfig config, const LoopPagesMaker& pages,
            std::shared_ptr<Sessions> sessions = nullptr);
  // Every loop runs `handler`, with no gate.
  WebServer(ServerConfig config, PageHandler handler, std::shared_ptr<Sessions> sessions = nullptr);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Before Listen: what the health check asks whether the node can serve (health.h); without
  // it the node is healthy while it is not draining.
  void SetHealthProbe(HealthProbe probe);
  // Before Listen: the settings that requests read, and what gives the configuration anew on
  // SIGHUP for them to take up (live_settings.h). Without them the server keeps its own and
  // SIGHUP changes nothing.
  void SetReload(std::shared_ptr<LiveSettings> settings, std::function<ServerConfig()> read);

  // Counts into `metrics` (metrics.h), made with the route kinds of the site's pages, instead
  // of metrics that know no page actions. Before Listen.
  void UseMetrics(std::shared_ptr<ServerMetrics> metrics);

  // Binds the listener, or takes the listening socket that the service manager passed
  // (socket_activation.h), whose address then replaces the configured one. Throws
  // tessaly::ConfigError with a one-line message (address in use, bad address, unreadable root
  // folder).
  void Listen();

  // "http://HOST:PORT" of the bound listener (the real port when 0 was asked for).
  std::string Url() const;

  // Serves until Stop(), SIGINT or SIGTERM: then accepts no new connection and lets requests
  // in flight finish. SIGTERM first drains for the configured seconds: the health check answers
  // "draining" and every request is still served, its connection closed after the answer; a
  // second signal ends the drain. SIGHUP reloads the settings (SetReload). Returns when all
  // threads are done.
  void Run();
  void Stop();

 private:
  std::unique_ptr<ServerCore> core_;
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_WEB_SERVER_H_
