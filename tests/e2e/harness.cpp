#include "e2e/harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

namespace tessaly::e2e {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::vector<char*> Argv(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(TESSALY_BINARY));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

std::string ReadAll(int fd) {
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, n);
  return out;
}

}  // namespace

CommandResult RunTessaly(const std::vector<std::string>& args, const std::string& input) {
  int in[2], out[2], err[2];
  if (pipe(in) || pipe(out) || pipe(err)) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    auto argv = Argv(args);
    execv(TESSALY_BINARY, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
    // the child may not read stdin at all
  }
  close(in[1]);
  CommandResult result;
  result.out = ReadAll(out[0]);  // small outputs: reading one pipe then the other is safe
  result.err = ReadAll(err[0]);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string HttpResponse::Header(const std::string& name) const {
  auto it = headers.find(Lower(name));
  return it == headers.end() ? std::string() : it->second;
}

Connection::Connection(int port) {
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

Connection::~Connection() { close(fd_); }

void Connection::Send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;  // the server may close early (413, 431); reading tells the rest
    sent += static_cast<std::size_t>(n);
  }
}

bool Connection::Fill() {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 10000) <= 0) throw std::runtime_error("timed out waiting for the server");
  char buf[16384];
  ssize_t n = recv(fd_, buf, sizeof buf, 0);
  if (n <= 0) return false;
  buffer_.append(buf, n);
  return true;
}

HttpResponse Connection::Read(bool head_only) {
  HttpResponse r;
  std::size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
    if (!Fill()) return r;
  }
  std::string head = buffer_.substr(0, end);
  buffer_.erase(0, end + 4);
  std::size_t line_end = head.find("\r\n");
  std::string status_line = head.substr(0, line_end);
  r.status = std::stoi(status_line.substr(9, 3));
  r.reason = status_line.size() > 13 ? status_line.substr(13) : "";
  std::size_t pos = line_end == std::string::npos ? head.size() : line_end + 2;
  while (pos < head.size()) {
    std::size_t next = head.find("\r\n", pos);
    if (next == std::string::npos) next = head.size();
    std::string line = head.substr(pos, next - pos);
    std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      r.headers.emplace(Lower(line.substr(0, colon)), value);
    }
    pos = next + 2;
  }
  if (head_only) return r;
  const std::string length = r.Header("content-length");
  if (!length.empty()) {
    const std::size_t n = std::stoul(length);
    while (buffer_.size() < n) {
      if (!Fill()) break;
    }
    r.body = buffer_.substr(0, n);
    buffer_.erase(0, std::min(n, buffer_.size()));
  } else {
    while (Fill()) {
    }
    r.body = std::move(buffer_);
    buffer_.clear();
  }
  return r;
}

bool Connection::ClosedByPeer(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return false;
  char c;
  return recv(fd_, &c, 1, MSG_PEEK) <= 0;
}

Server::Server(const std::vector<std::string>& args) {
  int out[2];
  if (pipe(out)) throw std::runtime_error("pipe failed");
  std::vector<std::string> full = {"serve", "--listen", "127.0.0.1:0"};
  full.insert(full.end(), args.begin(), args.end());
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    auto argv = Argv(full);
    execv(TESSALY_BINARY, argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    if (read(out[0], &c, 1) != 1) break;
    if (c == '\n') break;
    line += c;
  }
  close(out[0]);
  const std::size_t at = line.find("http://127.0.0.1:");
  if (at == std::string::npos) {
    Stop();
    throw std::runtime_error("the server did not start: \"" + line + "\"");
  }
  port_ = std::stoi(line.substr(at + 17));
}

Server::~Server() { Stop(); }

int Server::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

HttpResponse Server::Raw(const std::string& request, bool head_only) {
  Connection c(port_);
  c.Send(request);
  return c.Read(head_only);
}

HttpResponse Server::Get(const std::string& target, const std::string& extra_headers) {
  return Raw("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra_headers +
             "Connection: close\r\n\r\n");
}

HttpResponse Server::Post(const std::string& target, const std::string& body,
                          const std::string& content_type, const std::string& extra_headers) {
  return Raw("POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + content_type +
             "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra_headers +
             "Connection: close\r\n\r\n" + body);
}

Site::Site() {
  CommandResult r =
      RunTessaly({"init", "--root", dir_.str(), "--user", "admin", "--password", "secret"});
  if (r.status != 0) throw std::runtime_error("tessaly init failed: " + r.err);
}

}  // namespace tessaly::e2e
