#include "support/http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace tessaly::support {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

}  // namespace

std::string HttpResponse::Header(const std::string& name) const {
  auto it = headers.find(Lower(name));
  return it == headers.end() ? std::string() : it->second;
}

HttpConnection::HttpConnection(int port) {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd_);
    throw std::runtime_error("cannot connect to port " + std::to_string(port));
  }
}

HttpConnection::~HttpConnection() { close(fd_); }

void HttpConnection::Send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

bool HttpConnection::Fill() {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 10000) <= 0) throw std::runtime_error("timed out waiting for the server");
  char buf[16384];
  ssize_t n = recv(fd_, buf, sizeof buf, 0);
  if (n <= 0) return false;
  buffer_.append(buf, static_cast<std::size_t>(n));
  return true;
}

HttpResponse HttpConnection::Read(bool head_only) {
  HttpResponse r;
  std::size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
    if (!Fill()) return r;
  }
  const std::string head = buffer_.substr(0, end + 2);  // every line ends in CR LF
  buffer_.erase(0, end + 4);
  r.status = std::stoi(head.substr(9, 3));
  for (std::size_t pos = head.find("\r\n") + 2, next; pos < head.size(); pos = next + 2) {
    next = head.find("\r\n", pos);
    const std::string line = head.substr(pos, next - pos);
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::size_t value = std::min(line.find_first_not_of(' ', colon + 1), line.size());
    r.headers.emplace(Lower(line.substr(0, colon)), line.substr(value));
  }
  if (head_only || r.status < 200 || r.status == 204 || r.status == 304) return r;
  const std::string length = r.Header("content-length");  // none: the body ends at the close
  const std::size_t n = length.empty() ? std::string::npos : std::stoul(length);
  while (buffer_.size() < n && Fill()) {
  }
  r.body = buffer_.substr(0, n);
  buffer_.erase(0, std::min(n, buffer_.size()));
  return r;
}

bool HttpConnection::Readable(int timeout_ms) {
  if (!buffer_.empty()) return true;
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, timeout_ms) > 0;
}

bool HttpConnection::ClosedByPeer(int timeout_ms) {
  if (!buffer_.empty()) return false;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return false;
  char c;
  return recv(fd_, &c, 1, MSG_PEEK) <= 0;
}

}  // namespace tessaly::support
