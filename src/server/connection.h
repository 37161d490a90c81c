// One client connection: reads requests one after the other, answers each in full, and keeps
// the connection while the client wants it and the server is not stopping. Everything runs on
// the event loop of the connection's socket, which one thread runs. Internal to the server
// folder.
#ifndef TESSALY_SERVER_CONNECTION_H_
#define TESSALY_SERVER_CONNECTION_H_

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "server/answer.h"
#include "server/body_budget.h"
#include "server/connection_table.h"
#include "server/loop_state.h"
#include "server/server_core.h"
#include "server/site.h"

namespace tessaly::server {

class ServerCore;

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  // `loop`: what the socket's event loop keeps for its requests; it outlives the connection.
  Connection(ServerCore& server, Socket socket, LoopState& loop);
  ~Connection();

  // The client's address (canonical text), or "" when the client has gone already.
  const std::string& remote_address() const { return remote_address_; }

  // Serves the connection, admitted as `handle`.
  void Start(ConnectionTable::Handle handle);
  // Answers 503 at once, without reading anything, and closes: the client's address holds its
  // share of connections. Best effort: a client that sent its request already may see a reset.
  void Refuse();
  // Closes the connection, which waits for a request, to make room for a new one.
  void Evict();

  // The server is stopping. A connection that was served and waits for its next request
  // closes now (a client retries a request that meets a kept connection closing); one that is
  // answering finishes and then closes. A new connection, or one whose request is still
  // arriving, is served and then closes, unless `now`: the server's last call, for those whose
  // clients send nothing.
  void Shutdown(bool now);

 private:
  using Clock = std::chrono::steady_clock;
  using Parser = boost::beast::http::request_parser<boost::beast::http::string_body>;

  // What one request needs from its first byte to its last answer byte; a new request starts
  // from a fresh one.
  struct RequestState {
    std::shared_ptr<const ServerConfig> settings;  // read once, at its start
    bool keep_alive = false;
    bool head_only = false;
    bool linger = false;          // after the answer, drain what the client still sends, then close
    std::string decoded_path;     // the request path when it had escapes
    std::string client;           // the client's address (client_address.h)
    bool proxied = false;         // from a trusted proxy, whose forwarded headers count
    std::string_view path;        // percent-decoded: in the parser's target or decoded_path
    RequestLine line;             // views the parser's head and `client`
    Target target;                // what the path leads to
    BodyReservation body_memory;  // what the body may hold of the server's budget
    std::uint64_t file_left = 0;  // of the answer's file, still to send
    std::size_t bytes_sent = 0;
    Clock::time_point started;
    std::size_t route_kind = 0;  // route_kind.h; set once the request is routed
    bool cache_hit = false;      // its page came from the kept renderings
  };

  void ReadPeer();
  void WaitForRequest(std::chrono::seconds timeout);
  void ReadHeader();
  void OnHeader(boost::beast::error_code ec);
  void Route();
  void StartBody();
  void ReadBody();
  bool ReserveBodyMemory();
  void OnReadError(boost::beast::error_code ec);
  // Answers once the loop's gate lets the request in, when the answer runs pages; the
  // connection lives until then.
  void PassGate();
  // The metrics (metrics.h), to the allowed client addresses only; 404 to any other.
  void AnswerMetrics(bool body_pending);
  // What kind of answer the request is getting, and whether its page was kept, around the
  // site's answer to it.
  std::size_t RouteKindOf(const SiteRequest& asked) const;
  // The request line, assembled once: for an answer that runs pages, with the origin it came
  // from (request_origin.h).
  RequestLine LineOf(std::string_view query, bool runs_pages) const;
  // Answers on this loop, or hands a request that reads much to the slow-page threads
  // (slow_pages.h) and answers when it comes back.
  void Respond();
  void MakeAnswer(LoopState& loop);
  void HandOver();
  // Sends the answer that Site::Handle made.
  void SendAnswer();
  bool ReadFileChunk();
  // An answer of the server's own; `close` ends the connection after it (the request was not
  // read whole). `header` and `value` add one header line when given.
  void SendError(boost::beast::http::status status, bool close, std::string_view header = {},
                 std::string_view value = {});
  void EndHead();
  void Send();
  void OnWritten(boost::beast::error_code ec);
  void SendFileChunk();
  void FinishRequest();
  void LogAccess(Clock::duration took);
  void Linger();
  void Drain(std::size_t drained);
  void Close();

  ServerCore& server_;
  LoopState& loop_;
  std::optional<ConnectionTable::Handle> handle_;  // from Start on
  boost::beast::basic_stream<boost::asio::ip::tcp, boost::asio::io_context::executor_type> stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<Parser> parser_;
  Answer answer_;          // its body: the page, or a piece of the file being sent
  std::string head_text_;  // the answer's head as sent
  RequestState request_;
  std::string remote_address_;
  std::uint16_t remote_port_ = 0;
  bool reading_ = false;    // a read is pending, which Shutdown() may cancel
  bool waiting_ = false;    // for the first byte of a request
  bool served_ = false;     // a request was answered on the connection
  bool lingering_ = false;  // answered and closing (Linger)
  bool shutting_down_ = false;
  bool closing_now_ = false;  // Shutdown(true)
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_CONNECTION_H_
