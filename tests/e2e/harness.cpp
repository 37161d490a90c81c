#include "e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <stdexcept>
#include <utility>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "e2e/admin_loopback.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

// Starts tessaly with `args`, its standard input, output and error on `fds` (-1: inherited).
pid_t Spawn(const std::vector<std::string>& args, std::initializer_list<int> fds) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  int target = 0;
  for (int fd : fds) {
    if (fd >= 0) dup2(fd, target);
    ++target;
  }
  std::vector<char*> argv = {const_cast<char*>(TESSALY_BINARY)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(TESSALY_BINARY, argv.data());
  _exit(127);
}

std::string ReadAll(int fd) {
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, n);
  close(fd);
  return out;
}

std::string ServerUrl() {
  const char* url = std::getenv("TESSALY_TEST_POSTGRES");
  return url ? url : "";
}

// `url` with its database name replaced by `name`.
std::string WithDatabase(const std::string& url, const std::string& name) {
  const std::size_t authority = url.find("://") + 3;
  const std::size_t slash = url.find('/', authority);
  const std::size_t query = url.find('?', authority);
  const std::string head = url.substr(0, std::min(slash, query));
  return head + "/" + name + (query == std::string::npos ? "" : url.substr(query));
}

// The database of the site made last, which `init` and `serve` are given on PostgreSQL.
std::string& CurrentDatabase() {
  static std::string url;
  return url;
}

// Skips every test of a PostgreSQL run when no server is named.
class BackendEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (OnPostgres() && ServerUrl().empty()) {
      GTEST_SKIP() << "TESSALY_TEST_POSTGRES names no PostgreSQL server";
    }
  }
};
[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new BackendEnvironment);

// The arguments with the site's database added where the command takes one and none is given.
std::vector<std::string> OnBackend(std::vector<std::string> args) {
  if (OnPostgres() && !args.empty() && (args[0] == "init" || args[0] == "serve") &&
      std::find(args.begin(), args.end(), "--database") == args.end()) {
    args.insert(args.begin() + 1, {"--database", CurrentDatabase()});
  }
  return args;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool OnPostgres() {
  const char* backend = std::getenv("TESSALY_E2E_BACKEND");
  return backend && std::string(backend) == "postgres";
}

CommandResult RunTessaly(const std::vector<std::string>& given, const std::string& input) {
  const std::vector<std::string> args = OnBackend(given);
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t pid = Spawn(args, {in[0], out[1], err[1]});
  for (int fd : {in[0], out[1], err[1]}) close(fd);
  if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
    // the child may not read stdin at all
  }
  close(in[1]);
  CommandResult result;
  result.out = ReadAll(out[0]);  // small outputs: reading one pipe then the other is safe
  result.err = ReadAll(err[0]);
  result.status = ExitStatus(pid);
  return result;
}

Server::Server(const std::vector<std::string>& args) {
  int out[2];
  if (pipe2(out, O_CLOEXEC)) throw std::runtime_error("pipe failed");
  std::vector<std::string> full = {"serve", "--listen", "127.0.0.1:0"};
  full.insert(full.end(), args.begin(), args.end());
  pid_ = Spawn(OnBackend(full), {-1, out[1]});
  close(out[1]);
  std::string line;
  char c;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    if (read(out[0], &c, 1) != 1 || c == '\n') break;
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
  const pid_t pid = std::exchange(pid_, -1);
  return ExitStatus(pid);
}

HttpResponse Server::Raw(const std::string& request, bool head_only, const std::string& from) {
  Connection c =
      from.empty() ? Connection(port_) : Connection(Connection::Socket{ConnectFrom(from, port_)});
  c.Send(request);
  return c.Read(head_only);
}

std::string GetRequest(const std::string& target, const std::string& extra_headers) {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra_headers +
         "Connection: close\r\n\r\n";
}

std::string PostRequest(const std::string& target, const std::string& body,
                        const std::string& content_type, const std::string& extra_headers) {
  return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + content_type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra_headers +
         "Connection: close\r\n\r\n" + body;
}

ScratchDatabase::ScratchDatabase() {
  static std::atomic<int> made{0};
  name_ = "tessaly_e2e_" + std::to_string(getpid()) + "_" + std::to_string(made++);
  testing::Script(ServerUrl(), "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  testing::Script(ServerUrl(), "CREATE DATABASE " + name_);
  url_ = WithDatabase(ServerUrl(), name_);
}

ScratchDatabase::~ScratchDatabase() {
  try {
    testing::Script(ServerUrl(), "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (const std::exception&) {
    // left for the cluster's removal at the end of the run
  }
}

Site::Site() {
  if (OnPostgres()) {
    scratch_ = std::make_unique<ScratchDatabase>();
    CurrentDatabase() = scratch_->url();
  }
  CommandResult r =
      RunTessaly({"init", "--root", dir_.str(), "--user", "admin", "--password", "secret"});
  if (r.status != 0) throw std::runtime_error("tessaly init failed: " + r.err);
}

Site::~Site() = default;

HttpResponse Visitor::Keep(const std::string& request) {
  HttpResponse r = server_.Raw(request, false, from_);
  const std::string set = r.Header("set-cookie");
  if (!set.empty()) {
    cookie_ = set.find("Max-Age=0") != std::string::npos ? "" : set.substr(0, set.find(';'));
  }
  return r;
}

std::string Form(std::initializer_list<std::pair<std::string, std::string>> items) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string body;
  for (const auto& [name, value] : items) {
    body += (body.empty() ? "" : "&") + name + '=';
    for (unsigned char c : value) {
      if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
        body += static_cast<char>(c);
      } else {
        body += {'%', kHex[c >> 4], kHex[c & 15]};
      }
    }
  }
  return body;
}

}  // namespace tessaly::e2e
