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
      metrics_(std::make_shared<ServerMetrics>(RouteKinds(std::vector<std::string>()))),
      body_budget_(config.max_body_memory_bytes),
      connections_(config.max_connections, config.max_connections_per_address),
      loops_([count = ServingThreads(config), &pages] {
        std::vector<std::unique_ptr<Loop>> loops;
        for (unsigned i = 0; i < count; ++i) {
          loops.push_back(std::make_unique<Loop>());
          loops.back()->state.pages = pages(loops.back()->io);
        }
        return loops;
      }()),
      acceptor_(first_loop()),
      accept_retry_(first_loop()) {}

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

void ServerCore::Listen() {
  std::vector<PageConfig> pages = config.pages;
  if (pages.empty()) pages.emplace_back();
  site_.emplace(std::move(pages), CanonicalRoot(config.root), *sessions_,
                IncludeLimits{config.max_includes, config.max_include_bytes});
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
  MakeRoomForConnections(config.max_connections);

  if (!config.access_log.empty()) {
    try {
      access_log_ = OpenAccessLog(config.access_log, config.access_log_json);
    } catch (const spdlog::spdlog_ex& error) {
      throw fail("cannot open the access log " + config.access_log + ": " + error.what());
    }
  }
  // Signals are caught from the moment the address is announced: a SIGTERM that arrives
  // before Run() is held by the signal set and stops the server as soon as it runs. A Stop()
  // that came earlier has posted CloseListener, which runs first thing.
  signals_.emplace(first_loop(), SIGINT, SIGTERM);
  signals_->async_wait([this](boost::system::error_code wait_ec, int) {
    if (!wait_ec) Stop();
  });
  AddMetricsReaders();
  listening_ = true;
}

// Connections go to the loops in turn, so that each thread serves as many.
void ServerCore::Accept() {
  Loop& loop = *loops_[next_loop_];
  next_loop_ = (next_loop_ + 1) % loops_.size();
  acceptor_.async_accept(loop.io, [this, &loop](boost::system::error_code ec, Socket socket) {
    if (!acceptor_.is_open() || ec == net::error::operation_aborted) return;
    if (ec) return OnAcceptError(ec);
    OnAccepted(std::move(socket), loop.state);
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
  const auto& proxies = config.trusted_proxies;
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
  if (accept_more) Accept();
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

  auto run = [](net::io_context& io) {
    for (;;) {
      try {
        io.run();
        return;
      } catch (const std::exception& error) {
        spdlog::error("server thread: {}", error.what());
      }
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t i = 1; i < loops_.size(); ++i) {
    threads.emplace_back(run, std::ref(loops_[i]->io));
  }
  run(first_loop());
  for (auto& thread : threads) thread.join();
  signals_.reset();
}

void ServerCore::CloseListener() {
  boost::system::error_code ec;
  acceptor_.close(ec);
  accept_retry_.cancel();
  held_.reset();
  if (signals_) signals_->cancel(ec);
}

// Each loop ends once its connections have: it is let go on its own thread.
void ServerCore::Stop() {
  if (stopping_.exchange(true)) return;
  net::post(first_loop(), [this] { CloseListener(); });
  std::vector<std::weak_ptr<void>> live;
  {
    std::lock_guard lock(connections_mutex_);
    live = connections_.Owners();
  }
  for (const auto& owner : live) {
    if (auto connection = std::static_pointer_cast<Connection>(owner.lock())) {
      connection->Shutdown();
    }
  }
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
