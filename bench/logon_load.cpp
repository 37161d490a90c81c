// Loops on logons against a running tessaly, one keep-alive connection per argument, each from
// its own source address, and prints how the answers went.
//
// Usage: logon_load PORT SECONDS SOURCE:PASSWORD...   (the account is "admin")
// Prints one line: "logons N right R wrong W busy B other O seconds S".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// A connected socket from `source` (a loopback address such as 127.0.0.2: the logon guard tells
// clients apart by it) to 127.0.0.1:`port`. Throws std::runtime_error.
int ConnectFrom(const std::string& source, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in from{}, to{};
  from.sin_family = to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  if (fd < 0 || inet_pton(AF_INET, source.c_str(), &from.sin_addr) != 1 ||
      inet_pton(AF_INET, "127.0.0.1", &to.sin_addr) != 1 ||
      bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("cannot connect from " + source);
  }
  return fd;
}

using Clock = std::chrono::steady_clock;

std::atomic<long> right{0}, wrong{0}, busy{0}, other{0};

// One answer's body, or "" when the server closed the connection.
std::string ReadAnswer(int fd, std::string& buffer) {
  char chunk[8192];
  std::size_t head_end;
  while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos) {
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return {};
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
  const std::size_t at = buffer.find("ontent-Length: ");
  const std::size_t length = at < head_end ? std::stoul(buffer.substr(at + 15)) : 0;
  while (buffer.size() < head_end + 4 + length) {
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return {};
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
  std::string body = buffer.substr(head_end + 4, length);
  buffer.erase(0, head_end + 4 + length);
  return body;
}

void Loop(const std::string& source, const std::string& password, int port, Clock::time_point end) {
  const std::string body = "username=admin&password=" + password;
  const std::string request =
      "POST /log/board?action=admin&do=logon HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
      "application/x-www-form-urlencoded\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\n\r\n" + body;
  int fd = -1;
  std::string buffer;
  while (Clock::now() < end) {
    if (fd < 0) fd = ConnectFrom(source, port);
    std::string answer;
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) answer = ReadAnswer(fd, buffer);
    if (answer.empty()) {
      close(fd);
      fd = -1;
      buffer.clear();
      continue;
    }
    if (answer.find("控制面板") != std::string::npos) {
      ++right;
    } else if (answer.find("密码</b> 错误") != std::string::npos) {
      ++wrong;
    } else if (answer.find("繁忙") != std::string::npos) {
      ++busy;
    } else {
      ++other;
    }
  }
  if (fd >= 0) close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: logon_load PORT SECONDS SOURCE:PASSWORD...\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const double seconds = std::atof(argv[2]);
  const auto start = Clock::now();
  const auto end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::size_t colon = arg.find(':');
    threads.emplace_back(Loop, arg.substr(0, colon), arg.substr(colon + 1), port, end);
  }
  for (auto& thread : threads) thread.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("logons %ld right %ld wrong %ld busy %ld other %ld seconds %.2f\n",
              right + wrong + busy + other, right.load(), wrong.load(), busy.load(), other.load(),
              elapsed);
  return 0;
}
