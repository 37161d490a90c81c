#include "e2e/harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace tessaly::e2e {
namespace {

// Starts `program` with `args`, its standard input, output and error on `fds` (-1: inherited).
pid_t Spawn(const char* program, const std::vector<std::string>& args,
            std::initializer_list<int> fds) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  int target = 0;
  for (int fd : fds) {
    if (fd >= 0) dup2(fd, target);
    ++target;
  }
  std::vector<char*> argv = {const_cast<char*>(program)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execvp(program, argv.data());
  _exit(127);
}

int ExitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class BackendEnvironment : public ::testing::Environment {
  void SetUp() override {
    if (OnPostgres() && support::PostgresServerUrl().empty())
      GTEST_SKIP() << "TESSALY_TEST_POSTGRES is not set";
  }
};
[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new BackendEnvironment);

sockaddr_in Loopback(const std::string& address, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
    throw std::runtime_error("not an address: " + address);
  }
  return a;
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback("127.0.0.1", 0);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace

std::unique_ptr<Connection> ConnectFrom(int port, const std::string& from) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in source = Loopback(from, 0), to = Loopback("127.0.0.1", port);
  auto c = std::make_unique<Connection>(Connection::Socket{fd});  // closes it
  if (bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0 ||
      connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    throw std::runtime_error("cannot connect from " + from);
  }
  return c;
}

bool OnPostgres() {
  const char* backend = std::getenv("TESSALY_E2E_BACKEND");
  return backend && std::string(backend) == "postgres";
}

CommandResult RunTessaly(const std::vector<std::string>& args, const std::string& input) {
  const support::TempDir dir;
  const std::filesystem::path in = dir.Write("in", input), out = dir.path() / "out",
                              err = dir.path() / "err";
  const int fds[] = {open(in.c_str(), O_RDONLY | O_CLOEXEC),
                     open(out.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600),
                     open(err.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)};
  const pid_t pid = Spawn(TESSALY_BINARY, args, {fds[0], fds[1], fds[2]});
  for (int fd : fds) close(fd);
  const int status = ExitStatus(pid);
  return {status, support::ReadFile(out), support::ReadFile(err)};
}

HttpResponse Fetch(int port, const std::string& request, const std::string& from) {
  const auto c = from.empty() ? std::make_unique<Connection>(port) : ConnectFrom(port, from);
  c->Send(request);
  return c->Read();
}

std::string GetRequest(const std::string& target, const std::string& headers) {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
         "Connection: close\r\n\r\n";
}

Site::Site() {
  if (OnPostgres()) scratch_ = std::make_unique<ScratchDatabase>();
  database_ = scratch_ ? scratch_->url : (root() / "log" / "logs.mdb").string();
  const CommandResult r = RunTessaly(Command("init", {"--user", "admin", "--password", "secret"}));
  if (r.status != 0) throw std::runtime_error("tessaly init failed: " + r.err);
}

std::vector<std::string> Site::Command(const std::string& command,
                                       std::initializer_list<std::string> more) const {
  std::vector<std::string> args = {command, "--root", root().string()};
  if (scratch_) args.insert(args.end(), {"--database", database_});
  args.insert(args.end(), more);
  return args;
}

Server::Server(std::vector<std::string> serve_command) {
  int out[2];
  if (pipe2(out, O_CLOEXEC)) throw std::runtime_error("pipe failed");
  serve_command.insert(serve_command.begin() + 1, {"--listen", "127.0.0.1:0"});
  if (std::find(serve_command.begin(), serve_command.end(), "--drain-seconds") ==
      serve_command.end()) {
    serve_command.insert(serve_command.begin() + 1, {"--drain-seconds", "0"});
  }
  pid_ = Spawn(TESSALY_BINARY, serve_command, {-1, out[1]});
  close(out[1]);
  FILE* out_file = fdopen(out[0], "r");
  char first_line[256];  // it names the server's URL; none when it stops
  const std::string line = fgets(first_line, sizeof first_line, out_file) ? first_line : "";
  fclose(out_file);
  const std::size_t at = line.find("http://127.0.0.1:");
  if (at == std::string::npos) {
    Stop();
    throw std::runtime_error("the server did not start: \"" + line + "\"");
  }
  port_ = std::stoi(line.substr(at + 17));
}

Server::~Server() {
  if (pid_ > 0) {
    EXPECT_EQ(Stop(), 0) << "tessaly serve did not exit cleanly on SIGTERM";
  }
}

int Server::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  return ExitStatus(std::exchange(pid_, -1));
}

int Server::Wait() {
  if (pid_ <= 0) return -1;
  return ExitStatus(std::exchange(pid_, -1));
}

HttpResponse Visitor::Keep(const std::string& request) {
  HttpResponse r = Fetch(port_, request, from_);
  const std::string set = r.Header("set-cookie");
  if (!set.empty()) cookie = Has(set, "Max-Age=0") ? "" : set.substr(0, set.find(';'));
  return r;
}

HttpResponse Visitor::Post(const std::string& target, const std::string& body,
                           const std::string& type) {
  return Keep("POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + type +
              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + CookieLine() +
              "Connection: close\r\n\r\n" + body);
}

std::string Visitor::LogOn(const std::string& name, const std::string& password) {
  return Post(AdminPage("logon"), Form({{"username", name}, {"password", password}})).body;
}

Nginx::Nginx(const std::filesystem::path& dir, const std::function<std::string(int port)>& servers)
    : port_(FreePort()) {
  std::filesystem::create_directories(dir / "logs");
  // As root, the workers run as root too, so that they can read and write the test's folder.
  std::ofstream(dir / "nginx.conf")
      << (geteuid() == 0 ? "user root;\n" : "") << "worker_processes 1;\npid "
      << (dir / "nginx.pid").string() << ";\nerror_log " << (dir / "error.log").string()
      << ";\nevents { worker_connections 64; }\nhttp {\naccess_log off;\n"
         "types { text/html html shtml; text/css css; }\n"
         "default_type application/octet-stream;\nclient_body_temp_path "
      << (dir / "body").string() << ";\nproxy_temp_path " << (dir / "proxy").string() << ";\n"
      << servers(port_) << "\n}\n";
  pid_ = Spawn("nginx",
               {"-p", dir.string() + "/", "-c", (dir / "nginx.conf").string(), "-g", "daemon off;"},
               {});
  for (int i = 0; i < 100; ++i) {
    try {
      Connection probe(port_);
      return;
    } catch (const std::exception&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ADD_FAILURE() << "nginx did not start: " << support::ReadFile(dir / "error.log");
}

Nginx::~Nginx() {
  kill(pid_, SIGQUIT);
  waitpid(pid_, nullptr, 0);
}

bool HaveNginx() { return std::system("command -v nginx >/dev/null") == 0; }

std::function<std::string(int)> Deployed(const std::filesystem::path& site, int tessaly_port,
                                         const std::filesystem::path& cache_dir,
                                         bool own_includes) {
  return [=](int port) {
    std::string block = support::ReadFile(TESSALY_SOURCE_DIR "/deploy/nginx.conf");
    const auto replace = [&block](const std::string& pattern, const std::string& by) {
      block = std::regex_replace(block, std::regex(pattern), by);
    };
    replace("127\\.0\\.0\\.1:8080", "127.0.0.1:" + std::to_string(tessaly_port));
    replace("listen 80;", "listen 127.0.0.1:" + std::to_string(port) + ";");
    replace("/var/lib/tessaly/site", site.string());
    replace("/var/cache/nginx/tessaly", (cache_dir / "cache").string());
    if (own_includes) {
      replace("location ~\\* \\\\\\.shtml\\$ \\{\\n\\s*proxy_pass http://tessaly;\\n\\s*\\}",
              "location ~* \\.shtml$ { ssi on; }");
    }
    return block;
  };
}

std::string Form(std::initializer_list<std::pair<std::string, std::string>> items) {
  std::string body;
  for (const auto& [name, value] : items) {
    body += (body.empty() ? "" : "&") + name + '=';
    for (unsigned char c : value) {
      if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
        body += static_cast<char>(c);
      } else {
        body += {'%', "0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
      }
    }
  }
  return body;
}

}  // namespace tessaly::e2e
