// A plain HTTP/1.1 client for tests: one connection, requests written as raw bytes (so that a
// test can send what no well-behaved client would), answers parsed one at a time.
#ifndef TESSALY_TESTS_SUPPORT_HTTP_CLIENT_H_
#define TESSALY_TESTS_SUPPORT_HTTP_CLIENT_H_

#include <map>
#include <string>

namespace tessaly::support {

struct HttpResponse {
  int status = 0;  // 0: the server closed the connection before an answer
  std::multimap<std::string, std::string> headers;  // names lower-cased
  std::string body;

  // The first value of the header `name` (any case), or "".
  std::string Header(const std::string& name) const;
};

class HttpConnection {
 public:
  // Connects to 127.0.0.1:`port`; throws std::runtime_error when it cannot.
  explicit HttpConnection(int port);
  // Takes over `connected`, a socket already connected to the server.
  struct Socket {
    int fd;
  };
  explicit HttpConnection(Socket connected) : fd_(connected.fd) {}
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Writes `bytes`; stops quietly when the server has closed (reading tells the rest).
  void Send(const std::string& bytes);
  // Reads one answer; `head_only` for answers to HEAD. Waits up to 10 s for each piece.
  HttpResponse Read(bool head_only = false);
  // True when something (bytes or the end of the connection) arrives within the time.
  bool Readable(int timeout_ms);
  // True when the server closed the connection within the time.
  bool ClosedByPeer(int timeout_ms = 3000);

 private:
  bool Fill();
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace tessaly::support

#endif  // TESSALY_TESTS_SUPPORT_HTTP_CLIENT_H_
