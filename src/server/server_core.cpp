#include "server/server_core.h"

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/post.hpp>
#include <csignal>
#include <stdexcept>
#include <thread>

#include "base/errors.h"
#include "server/client_address.h"
#include "server/connection.h"
#include "server/socket_activation.h"

namespace tessaly::server {
namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;

std::filesystem::path CanonicalRoot(const std::string& root) {
  std::error_code ec;
  std::filesystem::path canonical = std::filesystem::canonical(root, ec);
  if (ec || !std::filesystem::is_directory(canonical, ec)) {
    throw ConfigError("root folder \"" + root + "\" is missing or not a folder");
  }
  if (::access(canonical.c_str(), R_OK | X_OK) != 0) {
    throw ConfigError("root folder \"" + root + "\" is not readable");
  }
  return canonical;
}

// How long connections still arriving have when the server stops (CloseStragglers).
constexpr std::chrono::milliseconds kStopCheck{50};
constexpr int kStopGraceChecks = 20;

// Descriptors that the server needs besides its connections: the listener, the logs, and the
// database files of the connection pool.
constexpr rlim_t kSpareDescriptors = 256;

// Raises the soft limit on open files so that `connections` connections fit, as far as the hard
// limit allows; beyond it, accepting waits for a connection to close.
void MakeRoomForConnections(std::size_t connections) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  rlim_t wanted = static_cast<rlim_t>(connections) + kSpareDescriptors;
  if (limit.rlim_cur >= wanted) return;
  limit.rlim_cur = std::min(wanted, limit.rlim_max);
  if (::setrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < wanted) {
    spdlog::warn("{} connections need {} open files; the limit is {}", connections, wanted,
                 limit.rlim_cur);
  }
}

// One line a request, flushed at once; a JSON line carries its own time. Throws
// spdlog::spdlog_ex when the file cannot be opened.
std::shared_ptr<spdlog::logger> OpenAccessLog(const std::string& file, bool json) {
  auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(file);
  auto log = std::make_shared<spdlog::logger>("access", std::move(sink));
  log->set_pattern(json ? "%v" : "%Y-%m-%dT%H:%M:%S.%e%z %v");
  log->flush_on(spdlog::level::info);
  return log;
}

}  // namespace

ServerCore::ServerCore(ServerConfig server_config, const LoopPagesMaker& pages,
                       std::shared_ptr<Sessions> given_sessions)
    : config(std::move(server_config)),
      sessions_(given_sessions ? std::move(given_sessions)
                               : std::make_shared<SessionStore>(config.max_sessions,
                                                                config.session_timeout_minutes)),
      live_(std::make_shared<LiveSettings>(config)),
      metrics_(std::make_shared<ServerMetrics>(RouteKinds(std::vector<std::string>()))),
      body_budget_(config.max_body_memory_bytes),
      connections_(config.max_connections, config.max_connections_per_address),
      loops_([count = ServingThreads(config), &pages] {
        std::vector<std::unique_ptr<EventLoop>> loops;
        for (unsigned i = 0; i < count; ++i) {
          loops.push_back(std::make_unique<EventLoop>());
          loops.back()->state.pages = pages(loops.back()->io);
        }
        return loops;
      }()),
      slow_pages_(static_cast<unsigned>(config.max_searches), pages),
      acceptor_(first_loop()),
      accept_retry_(first_loop()),
      drain_timer_(first_loop()),
      stop_grace_(first_loop()) {}

void ServerCore::UseMetrics(std::shared_ptr<ServerMetrics> metrics) {
  if (listening_) throw std::logic_error("WebServer::UseMetrics after Listen");
  metrics_ = std::move(metrics);
}

// What the server holds itself, read when the metrics are scraped.
void ServerCore::AddMetricsReaders() {
  metrics_->AddGauge("tessaly_connections", "Client connections open.", [this] {
    std::lock_guard lock(connections_mutex_);
    return static_cast<double>(connections_.size());
  });
  metrics_->AddGauge("tessaly_searches_running", "Searches running on the search threads now.",
                     [this] { return static_cast<double>(slow_pages_.running()); });
  metrics_->AddCounter("tessaly_searches_refused_total",
                       "Searches answered 503: too many waiting, or waited too long.",
                       [this] { return static_cast<double>(slow_pages_.refused()); });
  metrics_->AddGauge("tessaly_body_memory_bytes",
                     "Memory that the bodies of requests being read hold.",
                     [this] { return static_cast<double>(body_budget_.in_use()); });
  if (sessions_->Held()) {
    metrics_->AddGauge("tessaly_sessions", "Visitors' sessions held in memory.",
                       [this] { return static_cast<double>(sessions_->Held().value_or(0)); });
  }
}

// Connections that close while the loops destroy their handlers must not resume accepting.
ServerCore::~ServerCore() { stopping_ = true; }

// The endpoint that `address` names: an IP address as it stands, or a host name resolved.
tcp::endpoint ServerCore::Endpoint(const std::string& listen, const ListenAddress& address) {
  boost::system::error_code ec;
  net::ip::address ip = net::ip::make_address(address.host, ec);
  if (!ec) return tcp::endpoint(ip, address.port);
  tcp::resolver resolver(first_loop());
  auto results =
      resolver.resolve(address.host, std::to_string(address.port), tcp::resolver::passive, ec);
  if (ec || results.empty()) {
    throw ConfigError("bad listen address \"" + listen + "\": unknown host " + address.host);
  }
  return results.begin()->endpoint();
}

void ServerCore::SetReload(std::shared_ptr<LiveSettings> settings,
                           std::function<ServerConfig()> read) {
  live_ = std::move(settings);
  reread_ = std::move(read);
}

void ServerCore::Listen() {
  std::vector<PageConfig> pages = config.pages;
  if (pages.empty()) pages.emplace_back();
  health_.emplace(config.health_path, std::move(probe_));
  site_.emplace(std::move(pages), CanonicalRoot(config.root), *sessions_,
                IncludeLimits{config.max_includes, config.max_include_bytes},
                config.public_cache_control, &*health_);
  if (const std::optional<int> activated = TakeActivatedSocket()) {
    Adopt(*activated);
  } else {
    Bind();
  }
  MakeRoomForConnections(config.max_connections);

  if (!config.access_log.empty()) {
    try {
      access_log_ = OpenAccessLog(config.access_log, config.access_log_json);
    } catch (const spdlog::spdlog_ex& error) {
      boost::system::error_code ignored;
      acceptor_.close(ignored);
      throw ConfigError("cannot open the access log " + config.access_log + ": " + error.what());
    }
  }
  // Signals are caught from the moment the address is announced: a SIGTERM that arrives
  // before Run() is held by the signal set and stops the server as soon as it runs. A Stop()
  // that came earlier has posted CloseListener, which runs first thing.
  signals_.emplace(first_loop(), SIGINT, SIGTERM, SIGHUP);
  WaitForSignal();
  AddMetricsReaders();
  listening_ = true;
}

void ServerCore::Bind() {
  address_ = ParseListenAddress(config.listen);
  const tcp::endpoint endpoint = Endpoint(config.listen, address_);

  auto fail = [this](const std::string& why) {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    return ConfigError("cannot listen on " + config.listen + ": " + why);
  };
  boost::system::error_code ec;
  acceptor_.open(endpoint.protocol(), ec);
  if (ec) throw fail(ec.message());
  acceptor_.set_option(net::socket_base::reuse_address(true), ec);
  acceptor_.bind(endpoint, ec);
  if (ec == net::error::address_in_use) {
    acceptor_.close(ec);
    throw ConfigError("address " + config.listen + " is already in use");
  }
  if (ec) throw fail(ec.message());
  acceptor_.listen(net::socket_base::max_listen_connections, ec);
  if (ec) throw fail(ec.message());
  address_.port = acceptor_.local_endpoint().port();
}

// The socket that the service manager listens on for us replaces the configured address.
void ServerCore::Adopt(int activated) {
  boost::system::error_code ec;
  sockaddr_storage local{};
  socklen_t size = sizeof local;
  const bool v6 = ::getsockname(activated, reinterpret_cast<sockaddr*>(&local), &size) == 0 &&
                  local.ss_family == AF_INET6;
  acceptor_.assign(v6 ? tcp::v6() : tcp::v4(), activated, ec);
  if (ec)
    throw ConfigError("cannot take the socket passed by the service manager: " + ec.message());
  const tcp::endpoint endpoint = acceptor_.local_endpoint(ec);
  if (ec)
    throw ConfigError("cannot take the socket passed by the service manager: " + ec.message());
  address_.host = endpoint.address().to_string();
  address_.port = endpoint.port();
  spdlog::info("listening on the socket passed by the service manager, {}", address_.Url());
}

void ServerCore::WaitForSignal() {
  signals_->async_wait([this](boost::system::error_code ec, int signal) {
    if (!ec) OnSignal(signal);
  });
}

// SIGHUP reloads the settings. The first SIGTERM drains: the health check says so while the
// server serves on, so that a load balancer moves away before the listener closes. SIGINT, or
// a second signal, stops at once.
void ServerCore::OnSignal(int signal) {
  if (signal == SIGHUP) {
    if (reread_) {
      live_->Reload(reread_);
    } else {
      spdlog::info("SIGHUP: no configuration file to read again");
    }
    return WaitForSignal();
  }
  const int drain = settings()->drain_seconds;
  if (signal == SIGTERM && drain > 0 && !health_->draining()) {
    spdlog::info("draining for {} s, then stopping", drain);
    health_->StartDraining();
    drain_timer_.expires_after(std::chrono::seconds(drain));
    drain_timer_.async_wait([this](boost::system::error_code ec) {
      if (!ec) Stop();
    });
    return WaitForSignal();
  }
  Stop();
}

// Connections go to the loops in turn, so that each thread serves as many.
void ServerCore::Accept() {
  EventLoop& loop = *loops_[next_loop_];
  next_loop_ = (next_loop_ + 1) % loops_.size();
  acceptor_.async_accept(loop.io, [this, &loop](boost::system::error_code ec, Socket socket) {
    // A connection taken from the queue is served even when the listener closed meanwhile:
    // its client has sent its request, and under a service manager the next server would
    // have taken it.
    if (!ec) return OnAccepted(std::move(socket), loop.state);
    if (!acceptor_.is_open() || ec == net::error::operation_aborted) return;
    OnAcceptError(ec);
  });
}

void ServerCore::OnAccepted(Socket socket, LoopState& loop) {
  boost::system::error_code ignored;
  socket.set_option(tcp::no_delay(true), ignored);
  Admit(std::make_shared<Connection>(*this, std::move(socket), loop));
}

// A connection is admitted or refused as the table decides, and may take the place of one that
// waits. When the table is full of connections at work, the connection just accepted is held
// unserved and the listener stops accepting, so that new clients wait in the kernel's queue
// rather than in memory, until there is room again.
void ServerCore::Admit(std::shared_ptr<Connection> connection) {
  const std::string& peer = connection->remote_address();
  const std::shared_ptr<const ServerConfig> now = settings();
  const auto& proxies = now->trusted_proxies;
  std::string group = std::find(proxies.begin(), proxies.end(), peer) != proxies.end()
                          ? std::string()
                          : AddressGroup(peer);
  ConnectionTable::Admission admission;
  bool accept_more = true;
  {
    std::lock_guard lock(connections_mutex_);
    if (!peer.empty()) {
      if (connections_.Full()) {
        held_ = std::move(connection);
        pause_ = Pause::kFull;
        metrics_->CountConnectionRefusal(ConnectionRefusal::kServerFull);
        return;
      }
      admission = connections_.Admit(connection, std::move(group));
    }
    if (connections_.Full()) {
      pause_ = Pause::kFull;
      accept_more = false;
    }
  }
  if (admission.handle) {
    connection->Start(*admission.handle);
  } else {
    if (!peer.empty()) metrics_->CountConnectionRefusal(ConnectionRefusal::kAddressShare);
    connection->Refuse();  // or the client is gone already: no address
  }
  if (auto evicted = std::static_pointer_cast<Connection>(admission.evict.lock())) {
    metrics_->CountConnectionRefusal(ConnectionRefusal::kEvicted);
    evicted->Evict();
  }
  if (accept_more && acceptor_.is_open()) Accept();
}

// Out of descriptors and the like: wait for a connection to close, or a moment when there is
// none, rather than spinning on the error.
void ServerCore::OnAcceptError(const boost::system::error_code& ec) {
  spdlog::warn("accept: {}", ec.message());
  {
    std::lock_guard lock(connections_mutex_);
    if (connections_.size() > 0) {
      pause_ = Pause::kOutOfDescriptors;
      return;
    }
  }
  accept_retry_.expires_after(std::chrono::seconds(1));
  accept_retry_.async_wait([this](boost::system::error_code wait_ec) {
    if (!wait_ec && acceptor_.is_open()) Accept();
  });
}

void ServerCore::Run() {
  if (!listening_) throw std::logic_error("WebServer::Run before Listen");
  Accept();

  std::vector<std::thread> threads;
  for (std::size_t i = 1; i < loops_.size(); ++i) {
    threads.emplace_back([&io = loops_[i]->io] { RunLoop(io, "server"); });
  }
  RunLoop(first_loop(), "server");
  for (auto& thread : threads) thread.join();
  slow_pages_.Stop();
  signals_.reset();
}

void ServerCore::CloseListener() {
  boost::system::error_code ec;
  acceptor_.close(ec);
  accept_retry_.cancel();
  drain_timer_.cancel();
  held_.reset();
  if (signals_) signals_->cancel(ec);
  CloseStragglers(kStopGraceChecks);
}

// New connections and requests still arriving when the server stops get a moment: their
// clients are sending a request now, which is served. Checked every kStopCheck so that a
// server whose connections are all done stops at once.
void ServerCore::CloseStragglers(int checks_left) {
  stop_grace_.expires_after(kStopCheck);
  stop_grace_.async_wait([this, checks_left](boost::system::error_code ec) {
    if (ec) return;
    {
      std::lock_guard lock(connections_mutex_);
      if (connections_.size() == 0) return;
    }
    if (checks_left > 0) return CloseStragglers(checks_left - 1);
    ShutdownConnections(true);
  });
}

void ServerCore::ShutdownConnections(bool now) {
  std::vector<std::weak_ptr<void>> live;
  {
    std::lock_guard lock(connections_mutex_);
    live = connections_.Owners();
  }
  for (const auto& owner : live) {
    if (auto connection = std::static_pointer_cast<Connection>(owner.lock())) {
      connection->Shutdown(now);
    }
  }
}

// Each loop ends once its connections have: it is let go on its own thread.
void ServerCore::Stop() {
  if (stopping_.exchange(true)) return;
  net::post(first_loop(), [this] { CloseListener(); });
  ShutdownConnections(false);
  for (auto& loop : loops_) {
    net::post(loop->io, [&loop = *loop] { loop.keep.reset(); });
  }
}

void ServerCore::MarkWaiting(ConnectionTable::Handle handle) {
  std::lock_guard lock(connections_mutex_);
  connections_.Waiting(handle);
  ResumeAccepting(false);
}

bool ServerCore::MarkBusy(ConnectionTable::Handle handle) {
  std::lock_guard lock(connections_mutex_);
  return connections_.Busy(handle);
}

void ServerCore::Unregister(ConnectionTable::Handle handle) {
  std::lock_guard lock(connections_mutex_);
  connections_.Remove(handle);
  ResumeAccepting(true);
}

void ServerCore::ResumeAccepting(bool closed) {
  if (pause_ == Pause::kNone || stopping_ || connections_.Full()) return;
  if (pause_ == Pause::kOutOfDescriptors && !closed) return;
  pause_ = Pause::kNone;
  net::post(first_loop(), [this] {
    if (!acceptor_.is_open()) return;
    if (held_) return Admit(std::move(held_));
    Accept();
  });
}

}  // namespace tessaly::server
