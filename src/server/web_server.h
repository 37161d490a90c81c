// The embedded web server: serves the configured pages through a PageHandler and every other
// path as a static file under the site's root folder.
#ifndef TESSALY_SERVER_WEB_SERVER_H_
#define TESSALY_SERVER_WEB_SERVER_H_

#include <memory>
#include <string>

#include "server/config.h"
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

  // Counts into `metrics` (metrics.h), made with the route kinds of the site's pages, instead
  // of metrics that know no page actions. Before Listen.
  void UseMetrics(std::shared_ptr<ServerMetrics> metrics);

  // Binds the listener. Throws tessaly::ConfigError with a one-line message (address in use,
  // bad address, unreadable root folder).
  void Listen();

  // "http://HOST:PORT" of the bound listener (the real port when 0 was asked for).
  std::string Url() const;

  // Serves until Stop() or SIGINT/SIGTERM: then accepts no new connection and lets requests
  // in flight finish. Returns when all threads are done.
  void Run();
  void Stop();

 private:
  std::unique_ptr<ServerCore> core_;
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_WEB_SERVER_H_
