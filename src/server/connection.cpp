#include "server/connection.h"

#include <algorithm>
#include <array>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/prefer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/read.hpp>

#include "base/ascii.h"
#include "server/access_log.h"
#include "server/client_address.h"
#include "server/request_origin.h"
#include "server/server_core.h"
#include "server/url_encoding.h"

namespace tessaly::server {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

// Static files go out in pieces of this size, so a large file never sits in memory whole.
constexpr std::size_t kFileChunkBytes = 64 * 1024;

// After an answer that ends a connection whose request was not read whole (413, 431, 400), the
// server reads and drops what the client still sends for a moment before closing, so that the
// client sees the answer instead of a reset.
constexpr std::size_t kLingerBytes = 256 * 1024;
constexpr std::chrono::seconds kLingerTime{2};

// The most that one read adds to a chunked body beyond what is already buffered.
constexpr std::size_t kBodyReadBytes = 64 * 1024;

// Connection buffers that grew beyond this for one large request are given back afterwards.
constexpr std::size_t kKeptBufferBytes = 256 * 1024;

// The values of every header `name` of `fields`, joined by ", " in order.
std::string JoinedValues(const http::fields& fields, std::string_view name) {
  std::string joined;
  for (const auto& field : fields) {
    if (!ascii::EqualsNoCase(field.name_string(), name)) continue;
    if (!joined.empty()) joined += ", ";
    joined.append(field.value());
  }
  return joined;
}

// Why a body whose Transfer-Encoding ends in chunked cannot be read: 501 for a coding under the
// chunks (as in "gzip, chunked"), which this server does not implement; 400 for chunked applied
// twice, which no sender may do. Nothing for chunked alone.
std::optional<http::status> UnreadableCodings(const http::fields& fields) {
  int chunked = 0;
  for (const auto& field : fields) {
    if (field.name() != http::field::transfer_encoding) continue;
    std::string_view list = field.value();
    while (!list.empty()) {
      const std::size_t comma = list.find(',');
      std::string_view coding = list.substr(0, comma);
      list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
      const std::size_t first = coding.find_first_not_of(" \t");
      if (first == std::string_view::npos) continue;  // an empty element of the list
      coding = coding.substr(first, coding.find_last_not_of(" \t") - first + 1);
      if (!ascii::EqualsNoCase(coding, "chunked")) return http::status::not_implemented;
      ++chunked;
    }
  }
  if (chunked > 1) return http::status::bad_request;
  return std::nullopt;
}

}  // namespace

Connection::Connection(ServerCore& server, Socket socket, LoopState& loop)
    : server_(server), loop_(loop), stream_(std::move(socket)) {
  ReadPeer();
}

Connection::~Connection() {
  if (handle_) server_.Unregister(*handle_);
}

void Connection::Start(ConnectionTable::Handle handle) {
  handle_ = handle;
  net::dispatch(stream_.get_executor(), [self = shared_from_this()] {
    self->WaitForRequest(std::chrono::seconds(self->server_.settings()->read_timeout_seconds));
  });
}

// Runs before the connection is served, on the listener's thread: nothing else uses the socket
// yet, and a write that would block is not made.
void Connection::Refuse() {
  // Not the loop's answer or Date clock: this runs on another loop's thread.
  static const std::string kAnswer = [] {
    Answer answer;
    answer.Refuse(http::status::service_unavailable, "Retry-After", "1");
    char date[32];
    std::string text;
    WriteHead(answer.head, HttpDate(std::time(nullptr), date), answer.content_length, false, 11,
              text);
    return text + answer.body;
  }();
  beast::error_code ec;
  stream_.socket().non_blocking(true, ec);
  if (!ec) stream_.socket().write_some(net::buffer(kAnswer), ec);
  Close();
}

void Connection::Evict() {
  net::post(stream_.get_executor(), [self = shared_from_this()] { self->Close(); });
}

void Connection::Shutdown(bool now) {
  net::dispatch(stream_.get_executor(), [self = shared_from_this(), now] {
    self->shutting_down_ = true;
    self->closing_now_ = self->closing_now_ || now;
    const bool done = self->lingering_ || (self->waiting_ && self->served_);
    if (self->reading_ && (now || done)) self->stream_.cancel();
  });
}

void Connection::ReadPeer() {
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
// Shutdown() may end it. A request already in the buffer (pipelined) is read at once, unless
// the server is stopping: it is not being answered yet.
void Connection::WaitForRequest(std::chrono::seconds timeout) {
  if (shutting_down_ && (served_ || closing_now_)) return Close();
  if (buffer_.size() > 0) return ReadHeader();
  reading_ = true;
  waiting_ = true;
  stream_.expires_after(timeout);
  stream_.async_read_some(buffer_.prepare(4096),
                          [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                            self->reading_ = false;
                            self->waiting_ = false;
                            if (ec) return self->Close();
                            self->buffer_.commit(n);
                            self->ReadHeader();
                          });
}

void Connection::ReadHeader() {
  request_ = RequestState{};
  request_.settings = server_.settings();
  const ServerConfig& settings = *request_.settings;
  request_.started = Clock::now();
  request_.route_kind = server_.metrics().kinds().None();
  stream_.expires_after(std::chrono::seconds(settings.read_timeout_seconds));
  parser_.emplace();
  parser_->header_limit(static_cast<std::uint32_t>(settings.max_header_bytes));
  parser_->body_limit(static_cast<std::uint64_t>(settings.max_body_bytes));
  reading_ = true;
  http::async_read_header(stream_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                            self->reading_ = false;
                            self->OnHeader(ec);
                          });
}

void Connection::OnHeader(beast::error_code ec) {
  if (!server_.MarkBusy(*handle_)) return Close();  // it gave its place to a new connection
  if (ec) return OnReadError(ec);
  const auto& request = parser_->get();
  request_.keep_alive = request.keep_alive();
  request_.head_only = request.method() == http::verb::head;
  switch (request.method()) {
    case http::verb::get:
    case http::verb::head:
    case http::verb::post:
      break;
    default:
      return SendError(http::status::method_not_allowed, true, "Allow", "GET, HEAD, POST");
  }
  // A body whose last coding is not chunked has no end this server can find, and reading on
  // would take it for the next request (RFC 9112 6.3); a proxy may read it otherwise. One whose
  // chunks carry another coding could be read, but not understood.
  if (request.count(http::field::transfer_encoding) > 0) {
    if (!parser_->chunked()) return SendError(http::status::bad_request, true);
    if (auto status = UnreadableCodings(request)) return SendError(*status, true);
  }
  if (request.version() >= 11 && request.count(http::field::host) != 1) {
    return SendError(http::status::bad_request, true);
  }
  request_.client = remote_address_;
  const auto& proxies = request_.settings->trusted_proxies;
  request_.proxied = !proxies.empty() && IsTrustedProxy(remote_address_, proxies);
  if (request_.proxied) {
    request_.client =
        ClientAddress(remote_address_, JoinedValues(request, "X-Forwarded-For"), proxies);
  }
  Route();
}

// Decides from the head alone what answers the request: only a page reads a body. Any other
// answer to a request whose body is still coming closes the connection after it.
void Connection::Route() {
  const auto& request = parser_->get();
  const bool body_pending = !parser_->is_done();
  const auto target = SplitRequestTarget(request.target());
  if (!target) return SendError(http::status::bad_request, true);
  // The host of an absolute target is the one the request is for, whatever Host says.
  if (!target->authority.empty()) parser_->get().set(http::field::host, target->authority);
  const std::string_view raw_path = target->path;
  const std::string_view query = target->query;
  if (!HasValidEscapes(raw_path) || !HasValidEscapes(query)) {
    return SendError(http::status::bad_request, body_pending);
  }
  request_.path = raw_path;
  if (raw_path.find('%') != std::string_view::npos) {
    request_.decoded_path = *PercentDecode(raw_path, false);
    request_.path = request_.decoded_path;
  }
  if (request_.path == server_.config.metrics_path) return AnswerMetrics(body_pending);
  request_.target = server_.site().Find(request.method_string(), request_.path, loop_);
  request_.line = LineOf(query, request_.target.RunsPages());
  if (request_.target.page && body_pending) return StartBody();
  if (body_pending) {
    request_.keep_alive = false;
    request_.linger = true;
  }
  PassGate();
}

// A body is read only with its share of the server's memory for bodies in hand; a client that
// asked to hear first (Expect: 100-continue) hears the refusal instead of sending the body.
void Connection::StartBody() {
  if (!ReserveBodyMemory()) {
    server_.metrics().CountBodyBudgetRefusal();
    return SendError(http::status::service_unavailable, true, "Retry-After", "1");
  }
  if (!ascii::EqualsNoCase(parser_->get()[http::field::expect], "100-continue")) return ReadBody();
  static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
  net::async_write(stream_, net::buffer(kContinue.data(), kContinue.size()),
                   [self = shared_from_this()](beast::error_code ec, std::size_t) {
                     if (ec) return self->Close();
                     self->ReadBody();
                   });
}

void Connection::ReadBody() {
  if (closing_now_) return Close();
  reading_ = true;
  http::async_read_some(
      stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
        self->reading_ = false;
        if (ec) return self->OnReadError(ec);
        if (self->parser_->is_done()) return self->PassGate();
        if (!self->ReserveBodyMemory()) {
          self->server_.metrics().CountBodyBudgetRefusal();
          return self->SendError(http::status::service_unavailable, true, "Retry-After", "1");
        }
        self->ReadBody();
      });
}

// Holds what the body can have grown to after the next read: its stated length, or for a
// chunked body what it holds plus what one read can add (the buffered bytes and one more read).
bool Connection::ReserveBodyMemory() {
  std::size_t need = request_.settings->max_body_bytes;
  if (auto length = parser_->content_length()) {
    need = static_cast<std::size_t>(*length);
  } else {
    need = std::min(need, parser_->get().body().size() + buffer_.size() + kBodyReadBytes);
  }
  return request_.body_memory.GrowTo(server_.body_budget(), need);
}

// A request that could not be read: answer what can be answered, close in every case.
void Connection::OnReadError(beast::error_code ec) {
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

void Connection::PassGate() {
  if (!loop_.pages.gate || !request_.target.RunsPages()) return Respond();
  loop_.pages.gate([self = shared_from_this()] { self->Respond(); });
}

RequestLine Connection::LineOf(std::string_view query, bool runs_pages) const {
  const auto& request = parser_->get();
  RequestLine line{.method = request.method_string(),
                   .script_name = {},
                   .query = query,
                   .version = request.version(),
                   .remote_address = request_.client,
                   .remote_port = remote_port_,
                   .server_port = server_.address().port,
                   .listen_host = server_.address().host};
  if (!runs_pages) return line;
  const OwnOrigin own = RequestOrigin(request[http::field::host], request_.proxied,
                                      JoinedValues(request, "X-Forwarded-Proto"),
                                      JoinedValues(request, "X-Forwarded-Host"));
  line.https = own.https;
  line.other_origin = FromOtherOrigin(request["Sec-Fetch-Site"], request[http::field::origin],
                                      request[http::field::referer], own);
  return line;
}

void Connection::AnswerMetrics(bool body_pending) {
  request_.route_kind = server_.metrics().kinds().Metrics();
  if (body_pending) {
    request_.keep_alive = false;
    request_.linger = true;
  }
  const auto& allowed = server_.config.metrics_allow;
  answer_.Clear();
  if (std::find(allowed.begin(), allowed.end(), request_.client) == allowed.end()) {
    answer_.Refuse(http::status::not_found);
  } else if (parser_->get().method() == http::verb::post) {
    answer_.Refuse(http::status::method_not_allowed, "Allow", "GET, HEAD");
  } else {
    answer_.body = server_.metrics().Render();
    answer_.head.Start(http::status::ok);
    answer_.head.Add("Content-Type", kMetricsContentType);
    answer_.head.Add("Cache-Control", "no-store");
    answer_.content_length = answer_.body.size();
  }
  EndHead();
  Send();
}

std::size_t Connection::RouteKindOf(const SiteRequest& asked) const {
  const RouteKinds& kinds = server_.metrics().kinds();
  const Target& target = request_.target;
  if (target.page) {
    const bool form =
        asked.line.method == "POST" && IsFormContentType(asked.headers[http::field::content_type]);
    return kinds.OfPage(asked.line.query, form ? asked.body : std::string_view());
  }
  if (!target.file || asked.line.method == "POST") return kinds.None();
  return target.RunsPages() ? kinds.Include() : kinds.Static();
}

void Connection::Respond() {
  auto& request = parser_->get();
  request_.route_kind =
      RouteKindOf(SiteRequest{request_.path, request.base(), request_.line, request.body()});
  if (request_.target.page && loop_.pages.slow && loop_.pages.slow(request_.line.query)) {
    return HandOver();
  }
  MakeAnswer(loop_);
  SendAnswer();
}

// Makes the answer with what `loop` keeps for its pages: this connection's loop, or the search
// thread's that the request was handed to.
void Connection::MakeAnswer(LoopState& loop) {
  auto& request = parser_->get();
  const SiteRequest asked{request_.path, request.base(), request_.line, request.body()};
  const std::atomic<std::uint64_t>* hits = loop.pages.cache_hits;
  const std::uint64_t before = hits ? hits->load() : 0;
  server_.site().Handle(asked, request_.target, loop, answer_);
  request_.cache_hit = hits && hits->load() != before;
}

// While the request is away, nothing on this loop touches the connection: it is busy, so it is
// neither read nor evicted, and the work it holds on the loop keeps the loop running for it.
void Connection::HandOver() {
  auto home = net::prefer(stream_.get_executor(), net::execution::outstanding_work.tracked);
  const bool handed = server_.slow_pages().Post([self = shared_from_this(), home](LoopState* slow) {
    if (slow) {
      self->MakeAnswer(*slow);
    } else {
      self->answer_.Refuse(http::status::service_unavailable, "Retry-After", "1");
    }
    net::post(home, [self] { self->SendAnswer(); });
  });
  if (!handed) SendError(http::status::service_unavailable, false, "Retry-After", "1");
}

void Connection::SendAnswer() {
  // The request's body is done with: its memory goes back before the answer goes out.
  auto& request = parser_->get();
  std::string().swap(request.body());
  request_.body_memory = BodyReservation();
  EndHead();
  if (answer_.file.is_open()) {
    request_.file_left = request_.head_only ? 0 : answer_.content_length.value_or(0);
    if (!ReadFileChunk()) return Close();
  }
  Send();
}

// Fills the answer's body with the next piece of its file; false when the file came up short.
bool Connection::ReadFileChunk() {
  std::string& chunk = answer_.body;
  boost::beast::file& file = answer_.file;
  beast::error_code ec;
  chunk.clear();
  if (request_.file_left == 0) {
    file.close(ec);
    return true;
  }
  std::size_t want =
      static_cast<std::size_t>(std::min<std::uint64_t>(request_.file_left, kFileChunkBytes));
  chunk.resize(want);
  std::size_t got = file.read(chunk.data(), want, ec);
  if (ec || got == 0) {
    file.close(ec);
    return false;
  }
  chunk.resize(got);
  request_.file_left -= got;
  if (request_.file_left == 0) file.close(ec);
  return true;
}

void Connection::SendError(http::status status, bool close, std::string_view header,
                           std::string_view value) {
  if (close) {
    request_.keep_alive = false;
    request_.linger = true;
  }
  request_.file_left = 0;
  answer_.Refuse(status, header, value);
  EndHead();
  Send();
}

// Ends the head; the connection is kept only while the client and the server both want it, and
// not while the server drains, so that the client's next request goes where a balancer sends it.
void Connection::EndHead() {
  if (shutting_down_ || server_.stopping() || server_.draining()) request_.keep_alive = false;
  unsigned version = parser_ && parser_->is_header_done() ? parser_->get().version() : 11;
  WriteHead(answer_.head, loop_.date.Now(), answer_.content_length, request_.keep_alive, version,
            head_text_);
}

// Writes the head and, unless the request was HEAD, the answer's body.
void Connection::Send() {
  request_.bytes_sent = request_.head_only ? 0 : answer_.body.size();
  stream_.expires_after(std::chrono::seconds(request_.settings->read_timeout_seconds));
  std::array<net::const_buffer, 2> buffers{net::buffer(head_text_.data(), head_text_.size()),
                                           net::buffer(answer_.body.data(), request_.bytes_sent)};
  net::async_write(
      stream_, buffers,
      [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnWritten(ec); });
}

void Connection::OnWritten(beast::error_code ec) {
  if (ec) return Close();
  if (request_.file_left > 0) return SendFileChunk();
  FinishRequest();
}

void Connection::SendFileChunk() {
  if (!ReadFileChunk()) return Close();
  request_.bytes_sent += answer_.body.size();
  stream_.expires_after(std::chrono::seconds(request_.settings->read_timeout_seconds));
  net::async_write(
      stream_, net::buffer(answer_.body),
      [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnWritten(ec); });
}

void Connection::FinishRequest() {
  const Clock::duration took = Clock::now() - request_.started;
  server_.metrics().CountRequest(request_.route_kind, answer_.head.status(), took);
  if (server_.access_log()) LogAccess(took);
  const bool linger = request_.linger;
  const bool keep_alive = request_.keep_alive;
  parser_.reset();  // the body goes, and its share of the budget with the request state
  request_ = RequestState{};
  if (linger) return Linger();
  if (!keep_alive) return Close();
  served_ = true;
  if (buffer_.size() == 0 && buffer_.capacity() > kKeptBufferBytes) buffer_.shrink_to_fit();
  if (answer_.body.capacity() > kKeptBufferBytes) std::string().swap(answer_.body);
  server_.MarkWaiting(*handle_);
  WaitForRequest(std::chrono::seconds(server_.settings()->idle_timeout_seconds));
}

void Connection::LogAccess(Clock::duration took) {
  AccessRecord record{.time = std::chrono::system_clock::now(),
                      .client = request_.client.empty() ? remote_address_ : request_.client,
                      .method = "-",
                      .target = "-",
                      .status = answer_.head.status(),
                      .bytes = request_.bytes_sent,
                      .duration = took,
                      .route = server_.metrics().kinds().Name(request_.route_kind),
                      .cache_hit = request_.cache_hit};
  if (parser_ && parser_->is_header_done()) {
    record.method = parser_->get().method_string();
    record.target = parser_->get().target();
  }
  // A load balancer's health checks would drown the requests: below info, so not written.
  const auto level = request_.target.health ? spdlog::level::debug : spdlog::level::info;
  server_.access_log()->log(
      level, server_.config.access_log_json ? JsonAccessLine(record) : TextAccessLine(record));
}

// Stops sending, then drops what the client still sends for a moment before closing.
void Connection::Linger() {
  beast::error_code ec;
  stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
  if (ec || shutting_down_) return Close();
  lingering_ = true;
  stream_.expires_after(kLingerTime);
  Drain(0);
}

void Connection::Drain(std::size_t drained) {
  answer_.body.resize(4096);
  reading_ = true;
  stream_.async_read_some(net::buffer(answer_.body), [self = shared_from_this(), drained](
                                                         beast::error_code ec, std::size_t n) {
    self->reading_ = false;
    if (ec || drained + n > kLingerBytes) return self->Close();
    self->Drain(drained + n);
  });
}

void Connection::Close() {
  beast::error_code ec;
  stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
  stream_.close();
}

}  // namespace tessaly::server
