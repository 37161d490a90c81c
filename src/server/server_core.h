// The server behind WebServer: the listener, the threads, the signal handling and what the
// connections share. Internal to the server folder.
#ifndef TESSALY_SERVER_SERVER_CORE_H_
#define TESSALY_SERVER_SERVER_CORE_H_

#include <spdlog/logger.h>

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/body_budget.h"
#include "server/config.h"
#include "server/listen_address.h"
#include "server/page_run.h"
#include "server/session_store.h"

namespace tessaly::server {

class Connection;

class ServerCore {
 public:
  ServerCore(ServerConfig config, PageHandler handler);
  ~ServerCore();

  // See WebServer.
  void Listen();
  std::string Url() const { return address.Url(); }
  void Run();
  void Stop();

  // The page whose path is `path` exactly, or null.
  const PageConfig* FindPage(std::string_view path) const;

  // Shared with the connections; all of it is read-only while serving except `sessions` and
  // `body_budget` (thread-safe), `stopping` and the connection registry.
  const ServerConfig config;
  const PageHandler handler;
  std::vector<PageConfig> pages;
  std::filesystem::path root;
  SessionStore sessions;
  BodyBudget body_budget;
  std::shared_ptr<spdlog::logger> access_log;
  ListenAddress address;
  std::atomic<bool> stopping{false};

  // A connection counts from Register until Unregister; Unregister resumes accepting when
  // the count was at its cap.
  void Register(const std::shared_ptr<Connection>& connection);
  void Unregister(Connection* connection);

 private:
  void Accept();
  void OnAccepted(boost::asio::ip::tcp::socket socket);
  void OnAcceptError(const boost::system::error_code& ec);
  void CloseListener();

  bool listening_ = false;

  // Declared before io_: the handlers that io_ destroys last may still unregister.
  std::mutex connections_mutex_;
  std::unordered_map<Connection*, std::weak_ptr<Connection>> connections_;
  bool accept_paused_ = false;  // waiting for a connection to close before accepting again

  boost::asio::io_context io_;
  // Serialises the acceptor and the signal set, which Stop() reaches from any thread.
  boost::asio::strand<boost::asio::io_context::executor_type> control_;
  boost::asio::ip::tcp::acceptor acceptor_;
  boost::asio::steady_timer accept_retry_;
  std::optional<boost::asio::signal_set> signals_;
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_SERVER_CORE_H_
