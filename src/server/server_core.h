// The server behind WebServer: the listener, the threads, the signal handling and what the
// connections share. Internal to the server folder.
//
// Each thread runs an event loop of its own, and each connection lives on one loop from its
// accept to its close: nothing on the way of a request is shared between threads but the
// site (read-only), the session store, the database pool and the table of connections (a short
// lock when a head arrives and when an answer is done), and no thread wakes another but to
// close a connection that makes room. What a loop keeps for its requests is its LoopState. The
// listener, the signals and the table's wake-ups of the listener run on the first loop.
#ifndef TESSALY_SERVER_SERVER_CORE_H_
#define TESSALY_SERVER_SERVER_CORE_H_

#include <spdlog/logger.h>

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/body_budget.h"
#include "server/config.h"
#include "server/connection_table.h"
#include "server/health.h"
#include "server/listen_address.h"
#include "server/live_settings.h"
#include "server/loop_state.h"
#include "server/metrics.h"
#include "server/page_run.h"
#include "server/session_store.h"
#include "server/site.h"
#include "server/slow_pages.h"

namespace tessaly::server {

class Connection;

// A connection's socket, bound to the event loop it lives on.
using Socket =
    boost::asio::basic_stream_socket<boost::asio::ip::tcp, boost::asio::io_context::executor_type>;

class ServerCore {
 public:
  ServerCore(ServerConfig config, const LoopPagesMaker& pages, std::shared_ptr<Sessions> sessions);
  ~ServerCore();

  // See WebServer.
  void SetHealthProbe(HealthProbe probe) { probe_ = std::move(probe); }
  void SetReload(std::shared_ptr<LiveSettings> settings, std::function<ServerConfig()> read);
  void Listen();
  std::string Url() const { return address_.Url(); }
  void Run();
  void Stop();

  // Fixed before the first connection (the settings when made, the rest by Listen()):
  // read-only while serving, from any loop. A request reads what a reload may change from
  // settings() instead, once (live_settings.h).
  const ServerConfig config;
  std::shared_ptr<const ServerConfig> settings() const { return live_->Current(); }
  const Site& site() const { return *site_; }
  const ListenAddress& address() const { return address_; }
  spdlog::logger* access_log() const { return access_log_.get(); }
  // What is counted for the operator (metrics.h): one with the route kinds given by
  // UseMetrics, before Listen, or one that knows no page actions.
  ServerMetrics& metrics() const { return *metrics_; }
  void UseMetrics(std::shared_ptr<ServerMetrics> metrics);

  // What changes while serving, each safe to use from any loop: the memory that bodies being
  // read hold (body_budget.h), whether the server is stopping, and the table of connections.
  BodyBudget& body_budget() { return body_budget_; }
  SlowPages& slow_pages() { return slow_pages_; }
  bool stopping() const { return stopping_; }
  // Draining after SIGTERM: still serving, but no connection is kept after its answer.
  bool draining() const { return health_ && health_->draining(); }
  // A connection's passage through the table of connections (connection_table.h), from its
  // admission when accepted to Unregister. Accepting resumes when the table has room again.
  void MarkWaiting(ConnectionTable::Handle handle);
  bool MarkBusy(ConnectionTable::Handle handle);  // false: it was chosen to close
  void Unregister(ConnectionTable::Handle handle);

 private:
  boost::asio::ip::tcp::endpoint Endpoint(const std::string& listen, const ListenAddress& address);
  void Bind();
  void Adopt(int activated);
  void WaitForSignal();
  void OnSignal(int signal);
  void Accept();
  void OnAccepted(Socket socket, LoopState& loop);
  void Admit(std::shared_ptr<Connection> connection);
  void ResumeAccepting(bool closed);  // under connections_mutex_
  void OnAcceptError(const boost::system::error_code& ec);
  void CloseListener();
  // Stopping: tells every connection (Connection::Shutdown), and after a moment closes those
  // that are left, unless none is.
  void ShutdownConnections(bool now);
  void CloseStragglers(int checks_left);
  void AddMetricsReaders();
  boost::asio::io_context& first_loop() { return loops_.front()->io; }

  const std::shared_ptr<Sessions> sessions_;  // the store given, or one in memory
  std::shared_ptr<LiveSettings> live_;        // the settings given, or of `config`
  std::function<ServerConfig()> reread_;      // on SIGHUP; none: nothing to reload
  HealthProbe probe_;                         // until Listen() hands it to the health
  std::optional<Health> health_;              // from Listen() on
  std::optional<const Site> site_;
  ListenAddress address_;
  std::shared_ptr<spdlog::logger> access_log_;
  std::shared_ptr<ServerMetrics> metrics_;
  BodyBudget body_budget_;
  std::atomic<bool> stopping_{false};
  bool listening_ = false;

  // Declared before the loops: the handlers that they destroy last may still unregister.
  std::mutex connections_mutex_;
  ConnectionTable connections_;
  // Why the listener waits before accepting again: for room in the table, which a connection
  // that closes or waits for a request makes, or for a descriptor, which only one that closes
  // gives back.
  enum class Pause { kNone, kFull, kOutOfDescriptors };
  Pause pause_ = Pause::kNone;

  std::vector<std::unique_ptr<EventLoop>> loops_;
  std::size_t next_loop_ = 0;  // of the next connection accepted; on the first loop only
  // Its threads end after the loops' (a request handed over holds its loop until it is back).
  SlowPages slow_pages_;
  // On the first loop, which alone touches them; Stop() reaches them by posting there.
  boost::asio::ip::tcp::acceptor acceptor_;
  boost::asio::steady_timer accept_retry_;
  boost::asio::steady_timer drain_timer_;
  boost::asio::steady_timer stop_grace_;
  std::optional<boost::asio::signal_set> signals_;
  // The connection accepted when the table was full, admitted once there is room.
  std::shared_ptr<Connection> held_;
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_SERVER_CORE_H_
