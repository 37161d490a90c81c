// The embedded web server: serves the configured pages through a PageHandler and every other
// path as a static file under the site's root folder.
#ifndef TESSALY_SERVER_WEB_SERVER_H_
#define TESSALY_SERVER_WEB_SERVER_H_

#include <functional>
#include <memory>
#include <string>

#include "host/host.h"
#include "server/config.h"

namespace tessaly::server {

// Runs one page request: what it writes through the context is the answer. It may throw; the
// server then answers 500 with what was written so far and a short report, and logs the detail.
using PageHandler = std::function<void(host::ScriptingContext&, const PageConfig&)>;

class WebServer {
 public:
  WebServer(ServerConfig config, PageHandler handler);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds the listener. Throws std::runtime_error with a one-line message (address in use,
  // bad address, unreadable root folder).
  void Listen();

  // "http://HOST:PORT" of the bound listener (the real port when 0 was asked for).
  std::string Url() const;

  // Serves until Stop() or SIGINT/SIGTERM: then accepts no new connection and lets requests
  // in flight finish. Returns when all threads are done.
  void Run();
  void Stop();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_WEB_SERVER_H_
