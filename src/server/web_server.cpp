#include "server/web_server.h"

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <boost/asio/bind_executor.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/file.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <charconv>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/ascii.h"
#include "server/host_objects.h"
#include "server/session_store.h"
#include "server/static_files.h"
#include "server/url_encoding.h"

namespace tessaly::server {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// What a visitor sees when a page fails; the detail goes to the log only.
constexpr std::string_view kErrorReport = "<p>服务器内部错误，请稍后再试。</p>";

// Static files go out in pieces of this size, so a large file never sits in memory whole.
constexpr std::size_t kFileChunkBytes = 64 * 1024;

// After an answer that ends a connection whose request was not read whole (413, 431, 400), the
// server reads and drops what the client still sends for a moment before closing, so that the
// client sees the answer instead of a reset.
constexpr std::size_t kLingerBytes = 256 * 1024;
constexpr std::chrono::seconds kLingerTime{2};

// Connection buffers that grew beyond this for one large request are given back afterwards.
constexpr std::size_t kKeptBufferBytes = 256 * 1024;

std::string_view View(beast::string_view text) { return {text.data(), text.size()}; }

void AppendDecimal(std::string& out, std::uint64_t value) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// RFC 9110 date text of `when`, e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
std::string_view HttpDate(std::time_t when, char (&buffer)[32]) {
  std::tm parts{};
  gmtime_r(&when, &parts);
  std::size_t length = std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return {buffer, length};
}

// The Date header changes once a second; each thread formats it once per second.
std::string_view CurrentHttpDate() {
  thread_local std::time_t cached_second = -1;
  thread_local char buffer[32];
  thread_local std::string_view text;
  std::time_t now = std::time(nullptr);
  if (now != cached_second) {
    cached_second = now;
    text = HttpDate(now, buffer);
  }
  return text;
}

struct ListenAddress {
  std::string host;  // as written, without IPv6 brackets
  std::uint16_t port = 0;
};

ListenAddress ParseListenAddress(const std::string& text) {
  auto bad = [&text](const std::string& why) {
    return std::runtime_error("bad listen address \"" + text + "\": " + why);
  };
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) throw bad("expected HOST:PORT");
  ListenAddress address;
  address.host = text.substr(0, colon);
  if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']') {
    address.host = address.host.substr(1, address.host.size() - 2);
  }
  if (address.host.empty()) throw bad("no host");
  std::string_view port = std::string_view(text).substr(colon + 1);
  unsigned value = 0;
  auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value > 65535) {
    throw bad("the port must be a number from 0 to 65535");
  }
  address.port = static_cast<std::uint16_t>(value);
  return address;
}

std::filesystem::path CanonicalRoot(const std::string& root) {
  std::error_code ec;
  std::filesystem::path canonical = std::filesystem::canonical(root, ec);
  if (ec || !std::filesystem::is_directory(canonical, ec)) {
    throw std::runtime_error("root folder \"" + root + "\" is missing or not a folder");
  }
  if (::access(canonical.c_str(), R_OK | X_OK) != 0) {
    throw std::runtime_error("root folder \"" + root + "\" is not readable");
  }
  return canonical;
}

unsigned ThreadCount(const ServerConfig& config) {
  if (config.threads > 0) return static_cast<unsigned>(config.threads);
  return std::max(1u, std::thread::hardware_concurrency());
}

class Connection;

// The server behind WebServer, which the connections share.
class ServerCore {
 public:
  ServerCore(ServerConfig config, PageHandler handler);

  void Listen();
  std::string Url() const;
  void Run();
  void Stop();

  // Shared with the connections; all of it is read-only while serving except `sessions`
  // (locked inside) and the connection registry.
  const ServerConfig config;
  const PageHandler handler;
  std::vector<PageConfig> pages;
  std::filesystem::path root;
  SessionStore sessions;
  std::shared_ptr<spdlog::logger> access_log;
  ListenAddress address;
  std::atomic<bool> stopping{false};

  const PageConfig* FindPage(std::string_view path) const {
    for (const PageConfig& page : pages) {
      if (page.path == path) return &page;
    }
    return nullptr;
  }

  void Register(const std::shared_ptr<Connection>& connection);
  void Unregister(Connection* connection);

 private:
  void Accept();
  void CloseListener();

  bool listening_ = false;

  // Declared before io_: the handlers that io_ destroys last may still unregister.
  std::mutex connections_mutex_;
  std::unordered_map<Connection*, std::weak_ptr<Connection>> connections_;

  net::io_context io_;
  // Serialises the acceptor and the signal set, which Stop() reaches from any thread.
  net::strand<net::io_context::executor_type> control_;
  tcp::acceptor acceptor_;
  net::steady_timer accept_retry_;
  std::optional<net::signal_set> signals_;
};

// One client connection: reads requests one after the other, answers each in full, and keeps
// the connection while the client wants it and the server is not stopping. Everything runs on
// the connection's strand.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(ServerCore& server, tcp::socket socket)
      : server_(server), stream_(std::move(socket)) {}
  ~Connection() { server_.Unregister(this); }

  void Start() {
    server_.Register(shared_from_this());
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] {
      self->ReadPeer();
      self->WaitForRequest(std::chrono::seconds(self->server_.config.read_timeout_seconds));
    });
  }

  // Stop(): a connection waiting for a request closes now; one that is busy finishes the
  // request and then closes.
  void Shutdown() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] {
      self->shutting_down_ = true;
      if (self->waiting_) self->stream_.cancel();
    });
  }

 private:
  void ReadPeer() {
    beast::error_code ec;
    tcp::endpoint peer = stream_.socket().remote_endpoint(ec);
    if (ec) return;
    net::ip::address address = peer.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
      address = net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6());
    }
    remote_address_ = address.to_string();
    remote_port_ = peer.port();
  }

  // Waits for the first byte of the next request; the wait counts against `timeout`, and
  // Shutdown() may end it. A request already in the buffer (pipelined) is read at once.
  void WaitForRequest(std::chrono::seconds timeout) {
    if (buffer_.size() > 0) return ReadHeader();
    if (shutting_down_) return Close();
    waiting_ = true;
    stream_.expires_after(timeout);
    stream_.async_read_some(buffer_.prepare(4096),
                            [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                              self->waiting_ = false;
                              if (ec) return self->Close();
                              self->buffer_.commit(n);
                              self->ReadHeader();
                            });
  }

  void ReadHeader() {
    keep_alive_ = false;
    head_only_ = false;
    linger_ = false;
    file_left_ = 0;
    started_ = server_.access_log ? Clock::now() : Clock::time_point();
    stream_.expires_after(std::chrono::seconds(server_.config.read_timeout_seconds));
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(server_.config.max_header_bytes));
    parser_->body_limit(static_cast<std::uint64_t>(server_.config.max_body_bytes));
    http::async_read_header(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnHeader(ec); });
  }

  void OnHeader(beast::error_code ec) {
    if (ec) return OnReadError(ec);
    const auto& request = parser_->get();
    keep_alive_ = request.keep_alive();
    head_only_ = request.method() == http::verb::head;
    switch (request.method()) {
      case http::verb::get:
      case http::verb::head:
      case http::verb::post:
        break;
      default:
        return SendError(http::status::method_not_allowed, true, "Allow: GET, HEAD, POST\r\n");
    }
    if (parser_->is_done()) return Dispatch();
    if (ascii::EqualsNoCase(View(request[http::field::expect]), "100-continue")) {
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      return net::async_write(stream_, net::buffer(kContinue.data(), kContinue.size()),
                              [self = shared_from_this()](beast::error_code write_ec, std::size_t) {
                                if (write_ec) return self->Close();
                                self->ReadBody();
                              });
    }
    ReadBody();
  }

  void ReadBody() {
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) {
                       if (ec) return self->OnReadError(ec);
                       self->Dispatch();
                     });
  }

  // A request that could not be read: answer what can be answered, close in every case.
  void OnReadError(beast::error_code ec) {
    if (ec == http::error::header_limit) {
      return SendError(http::status::request_header_fields_too_large, true);
    }
    if (ec == http::error::body_limit) return SendError(http::status::payload_too_large, true);
    if (ec.category() == http::make_error_code(http::error::bad_method).category() &&
        ec != http::error::end_of_stream && ec != http::error::partial_message) {
      return SendError(http::status::bad_request, true);
    }
    Close();  // timeout, reset, or the client went away
  }

  void Dispatch() {
    const auto& request = parser_->get();
    std::string_view target = View(request.target());
    if (target.empty() || target.front() != '/') return SendError(http::status::bad_request, true);
    std::size_t question = target.find('?');
    std::string_view raw_path = target.substr(0, question);
    std::string_view query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    if (!HasValidEscapes(raw_path) || !HasValidEscapes(query)) {
      return SendError(http::status::bad_request, false);
    }
    std::string_view path = raw_path;
    if (raw_path.find('%') != std::string_view::npos) {
      decoded_path_ = *PercentDecode(raw_path, false);
      path = decoded_path_;
    }
    if (const PageConfig* page = server_.FindPage(path)) return RunPage(*page, query);
    ServeStatic(path);
  }

  void RunPage(const PageConfig& page, std::string_view query) {
    const auto& request = parser_->get();
    std::string_view body = request.body();
    if (request.method() == http::verb::post &&
        IsFormContentType(View(request[http::field::content_type])) && !HasValidEscapes(body)) {
      return SendError(http::status::bad_request, false);
    }

    RequestLine line;
    line.method = View(request.method_string());
    line.script_name = page.path;
    line.query = query;
    line.version = request.version();
    line.remote_address = remote_address_;
    line.remote_port = remote_port_;
    line.server_port = server_.address.port;
    line.listen_host = server_.address.host;

    body_.clear();
    PageRequest page_request(line, request.base(), body);
    PageResponse page_response(body_);
    PageServer page_server(server_.root.native(), page.path);
    PageSession page_session(server_.sessions, View(request[http::field::cookie]));
    PageApplication application;
    host::ScriptingContext context{page_request, page_response, page_server, page_session,
                                   application};

    http::status status = http::status::ok;
    try {
      server_.handler(context, page);
    } catch (const std::exception& error) {
      status = http::status::internal_server_error;
      spdlog::error("{} {}: {}", line.method, page.path, error.what());
    } catch (...) {
      status = http::status::internal_server_error;
      spdlog::error("{} {}: unknown exception", line.method, page.path);
    }
    const bool failed = status != http::status::ok;
    if (failed) {
      body_.append(kErrorReport);
    } else {
      status = static_cast<http::status>(page_response.status());
    }
    const bool bodiless =
        status == http::status::not_modified || status == http::status::no_content;
    if (bodiless) body_.clear();

    StartHead(status);
    if (!bodiless) {
      head_.append("Content-Type: ").append(page_response.content_type()).append("\r\n");
    }
    if (!failed) head_.append(page_response.headers());
    head_.append("Cache-Control: private\r\n");
    page_session.Finish(head_);
    EndHead(bodiless ? std::nullopt : std::optional<std::uint64_t>(body_.size()));
    Send();
  }

  void ServeStatic(std::string_view path) {
    const auto& request = parser_->get();
    if (request.method() == http::verb::post) {
      return SendError(http::status::method_not_allowed, false, "Allow: GET, HEAD\r\n");
    }
    auto resolved = ResolveStaticPath(server_.root, path);
    if (!resolved) return SendError(http::status::not_found, false);

    beast::error_code ec;
    file_.open(resolved->c_str(), beast::file_mode::scan, ec);
    struct stat info {};
    if (ec || ::fstat(file_.native_handle(), &info) != 0 || !S_ISREG(info.st_mode)) {
      file_.close(ec);
      return SendError(http::status::not_found, false);
    }

    char date[32];
    std::string_view modified = HttpDate(info.st_mtim.tv_sec, date);
    if (View(request[http::field::if_modified_since]) == modified) {
      file_.close(ec);
      StartHead(http::status::not_modified);
      head_.append("Last-Modified: ").append(modified).append("\r\n");
      EndHead(std::nullopt);
      body_.clear();
      return Send();
    }

    StartHead(http::status::ok);
    head_.append("Content-Type: ").append(ContentTypeFor(resolved->native())).append("\r\n");
    head_.append("Last-Modified: ").append(modified).append("\r\n");
    EndHead(static_cast<std::uint64_t>(info.st_size));
    file_left_ = head_only_ ? 0 : static_cast<std::uint64_t>(info.st_size);
    if (file_left_ == 0) file_.close(ec);
    if (!ReadFileChunk()) return Close();
    Send();
  }

  // Fills body_ with the next piece of the file being sent; false when the file came up short.
  bool ReadFileChunk() {
    body_.clear();
    if (file_left_ == 0) return true;
    std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(file_left_, kFileChunkBytes));
    body_.resize(want);
    beast::error_code ec;
    std::size_t got = file_.read(body_.data(), want, ec);
    if (ec || got == 0) {
      file_.close(ec);
      return false;
    }
    body_.resize(got);
    file_left_ -= got;
    if (file_left_ == 0) file_.close(ec);
    return true;
  }

  void SendError(http::status status, bool close, std::string_view extra_headers = {}) {
    if (close) keep_alive_ = false;
    file_left_ = 0;
    body_.clear();
    body_.append("<html><body><h1>");
    AppendDecimal(body_, static_cast<unsigned>(status));
    body_.append(" ").append(View(http::obsolete_reason(status))).append("</h1></body></html>\n");
    StartHead(status);
    head_.append("Content-Type: text/html; charset=utf-8\r\n").append(extra_headers);
    EndHead(body_.size());
    linger_ = close;
    Send();
  }

  void StartHead(http::status status) {
    status_ = static_cast<unsigned>(status);
    head_.clear();
    head_.append("HTTP/1.1 ");
    AppendDecimal(head_, status_);
    head_.append(" ").append(View(http::obsolete_reason(status))).append("\r\n");
    head_.append("Server: Tessaly\r\nDate: ").append(CurrentHttpDate()).append("\r\n");
  }

  // Ends the headers; every answer but 304 states its length.
  void EndHead(std::optional<std::uint64_t> content_length) {
    if (content_length) {
      head_.append("Content-Length: ");
      AppendDecimal(head_, *content_length);
      head_.append("\r\n");
    }
    if (shutting_down_ || server_.stopping) keep_alive_ = false;
    if (!keep_alive_) {
      head_.append("Connection: close\r\n");
    } else if (parser_ && parser_->get().version() == 10) {
      head_.append("Connection: keep-alive\r\n");
    }
    head_.append("\r\n");
  }

  // Writes head_ and, unless the request was HEAD, body_.
  void Send() {
    bytes_sent_ = head_only_ ? 0 : body_.size();
    stream_.expires_after(std::chrono::seconds(server_.config.read_timeout_seconds));
    std::array<net::const_buffer, 2> buffers{net::buffer(head_),
                                             net::buffer(body_.data(), bytes_sent_)};
    net::async_write(
        stream_, buffers,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnWritten(ec); });
  }

  void OnWritten(beast::error_code ec) {
    if (ec) return Close();
    if (file_left_ > 0) return SendFileChunk();
    FinishRequest();
  }

  void SendFileChunk() {
    if (!ReadFileChunk()) return Close();
    bytes_sent_ += body_.size();
    stream_.expires_after(std::chrono::seconds(server_.config.read_timeout_seconds));
    net::async_write(
        stream_, net::buffer(body_),
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnWritten(ec); });
  }

  void FinishRequest() {
    if (server_.access_log) LogAccess();
    if (linger_) return Linger();
    if (!keep_alive_) return Close();
    parser_.reset();
    if (buffer_.size() == 0 && buffer_.capacity() > kKeptBufferBytes) buffer_.shrink_to_fit();
    if (body_.capacity() > kKeptBufferBytes) std::string().swap(body_);
    WaitForRequest(std::chrono::seconds(server_.config.idle_timeout_seconds));
  }

  void LogAccess() {
    double millis = std::chrono::duration<double, std::milli>(Clock::now() - started_).count();
    std::string_view method = "-";
    std::string_view target = "-";
    if (parser_ && parser_->is_header_done()) {
      method = View(parser_->get().method_string());
      target = View(parser_->get().target());
    }
    server_.access_log->info("{} {} {} {} {} {:.3f}ms", remote_address_, method, target, status_,
                             bytes_sent_, millis);
  }

  // Stops sending, then drops what the client still sends for a moment before closing.
  void Linger() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    if (ec) return Close();
    stream_.expires_after(kLingerTime);
    Drain(0);
  }

  void Drain(std::size_t drained) {
    body_.resize(4096);
    stream_.async_read_some(net::buffer(body_), [self = shared_from_this(), drained](
                                                    beast::error_code ec, std::size_t n) {
      if (ec || drained + n > kLingerBytes) return self->Close();
      self->Drain(drained + n);
    });
  }

  void Close() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream_.close();
  }

  ServerCore& server_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::string head_;          // the answer's status line and headers, reused
  std::string body_;          // the page or a piece of a file, reused
  std::string decoded_path_;  // the request path when it had escapes
  beast::file file_;
  std::uint64_t file_left_ = 0;
  std::string remote_address_;
  std::uint16_t remote_port_ = 0;
  bool waiting_ = false;  // between requests: Shutdown() may close now
  bool shutting_down_ = false;
  bool keep_alive_ = false;
  bool head_only_ = false;
  bool linger_ = false;
  unsigned status_ = 0;
  std::size_t bytes_sent_ = 0;
  Clock::time_point started_;
};

ServerCore::ServerCore(ServerConfig server_config, PageHandler page_handler)
    : config(std::move(server_config)),
      handler(std::move(page_handler)),
      pages(config.pages),
      sessions(config.max_sessions, config.session_timeout_minutes),
      io_(static_cast<int>(ThreadCount(config))),
      control_(net::make_strand(io_)),
      acceptor_(control_),
      accept_retry_(control_) {
  if (pages.empty()) pages.emplace_back();
}

void ServerCore::Listen() {
  root = CanonicalRoot(config.root);
  address = ParseListenAddress(config.listen);

  beast::error_code ec;
  tcp::endpoint endpoint;
  net::ip::address ip = net::ip::make_address(address.host, ec);
  if (!ec) {
    endpoint = tcp::endpoint(ip, address.port);
  } else {
    tcp::resolver resolver(io_);
    auto results =
        resolver.resolve(address.host, std::to_string(address.port), tcp::resolver::passive, ec);
    if (ec || results.empty()) {
      throw std::runtime_error("bad listen address \"" + config.listen + "\": unknown host " +
                               address.host);
    }
    endpoint = results.begin()->endpoint();
  }

  auto fail = [this](const std::string& why) {
    beast::error_code ignored;
    acceptor_.close(ignored);
    return std::runtime_error("cannot listen on " + config.listen + ": " + why);
  };
  acceptor_.open(endpoint.protocol(), ec);
  if (ec) throw fail(ec.message());
  acceptor_.set_option(net::socket_base::reuse_address(true), ec);
  acceptor_.bind(endpoint, ec);
  if (ec == net::error::address_in_use) {
    acceptor_.close(ec);
    throw std::runtime_error("address " + config.listen + " is already in use");
  }
  if (ec) throw fail(ec.message());
  acceptor_.listen(net::socket_base::max_listen_connections, ec);
  if (ec) throw fail(ec.message());
  address.port = acceptor_.local_endpoint().port();

  if (!config.access_log.empty()) {
    try {
      auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(config.access_log);
      access_log = std::make_shared<spdlog::logger>("access", std::move(sink));
      access_log->set_pattern("%Y-%m-%dT%H:%M:%S.%e%z %v");
      access_log->flush_on(spdlog::level::info);
    } catch (const spdlog::spdlog_ex& error) {
      throw fail("cannot open the access log " + config.access_log + ": " + error.what());
    }
  }
  // Signals are caught from the moment the address is announced: a SIGTERM that arrives
  // before Run() is held by the signal set and stops the server as soon as it runs. A Stop()
  // that came earlier has posted CloseListener, which runs first thing.
  signals_.emplace(control_, SIGINT, SIGTERM);
  signals_->async_wait([this](beast::error_code wait_ec, int) {
    if (!wait_ec) Stop();
  });
  listening_ = true;
}

std::string ServerCore::Url() const {
  bool v6 = address.host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + address.host + "]" : address.host) + ":" +
         std::to_string(address.port);
}

void ServerCore::Accept() {
  acceptor_.async_accept(net::make_strand(io_), [this](beast::error_code ec, tcp::socket socket) {
    if (!acceptor_.is_open() || ec == net::error::operation_aborted) return;
    if (ec) {
      // Out of descriptors and the like: keep serving the connections there are, and try
      // again a little later rather than spinning.
      spdlog::warn("accept: {}", ec.message());
      accept_retry_.expires_after(std::chrono::milliseconds(100));
      accept_retry_.async_wait([this](beast::error_code wait_ec) {
        if (!wait_ec && acceptor_.is_open()) Accept();
      });
      return;
    }
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    std::make_shared<Connection>(*this, std::move(socket))->Start();
    Accept();
  });
}

void ServerCore::Run() {
  if (!listening_) throw std::logic_error("WebServer::Run before Listen");
  Accept();

  unsigned count = ThreadCount(config);
  auto run = [this] {
    for (;;) {
      try {
        io_.run();
        return;
      } catch (const std::exception& error) {
        spdlog::error("server thread: {}", error.what());
      }
    }
  };
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < count; ++i) threads.emplace_back(run);
  run();
  for (auto& thread : threads) thread.join();
  signals_.reset();
}

void ServerCore::CloseListener() {
  beast::error_code ec;
  acceptor_.close(ec);
  accept_retry_.cancel();
  if (signals_) signals_->cancel(ec);
}

void ServerCore::Stop() {
  if (stopping.exchange(true)) return;
  net::post(control_, [this] { CloseListener(); });
  std::vector<std::shared_ptr<Connection>> live;
  {
    std::lock_guard lock(connections_mutex_);
    for (auto& [pointer, weak] : connections_) {
      if (auto connection = weak.lock()) live.push_back(std::move(connection));
    }
  }
  for (auto& connection : live) connection->Shutdown();
}

void ServerCore::Register(const std::shared_ptr<Connection>& connection) {
  std::lock_guard lock(connections_mutex_);
  connections_.emplace(connection.get(), connection);
}

void ServerCore::Unregister(Connection* connection) {
  std::lock_guard lock(connections_mutex_);
  connections_.erase(connection);
}

}  // namespace

class WebServer::Impl : public ServerCore {
 public:
  using ServerCore::ServerCore;
};

WebServer::WebServer(ServerConfig config, PageHandler handler)
    : impl_(std::make_unique<Impl>(std::move(config), std::move(handler))) {}

WebServer::~WebServer() = default;

void WebServer::Listen() { impl_->Listen(); }
std::string WebServer::Url() const { return impl_->Url(); }
void WebServer::Run() { impl_->Run(); }
void WebServer::Stop() { impl_->Stop(); }

}  // namespace tessaly::server
