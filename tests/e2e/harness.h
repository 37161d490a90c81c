// End-to-end support: a temporary site, the real tessaly program serving it on a loopback port,
// a visitor that keeps its session cookie as a browser does, and the administration's forms.
#ifndef TESSALY_TESTS_E2E_HARNESS_H_
#define TESSALY_TESTS_E2E_HARNESS_H_

#include <sys/types.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/http_client.h"
#include "support/temp_dir.h"

namespace tessaly::e2e {

// The backend under test. With TESSALY_E2E_BACKEND=postgres every Site is a fresh database on
// the PostgreSQL server that TESSALY_TEST_POSTGRES names (a URL of any database there, used to
// create and drop them), and `init` and `serve` are pointed at it; the tests of a run that
// names no server are skipped. Otherwise every Site is an SQLite file.
bool OnPostgres();

// Runs tessaly with `args`, feeding `input` on stdin; returns exit status and captures output.
struct CommandResult {
  int status = -1;
  std::string out, err;
};
CommandResult RunTessaly(const std::vector<std::string>& args, const std::string& input = {});

// The shared test client, under the names these tests use.
using HttpResponse = testing::HttpResponse;
using Connection = testing::HttpConnection;

inline constexpr char kFormType[] = "application/x-www-form-urlencoded";

// Requests that close their connection, as raw bytes.
std::string GetRequest(const std::string& target, const std::string& extra_headers = {});
std::string PostRequest(const std::string& target, const std::string& body,
                        const std::string& content_type = kFormType,
                        const std::string& extra_headers = {});

class Server {
 public:
  // Starts `tessaly serve --listen 127.0.0.1:0` with `args`; waits for its URL line.
  explicit Server(const std::vector<std::string>& args);
  ~Server();  // SIGTERM, then waits
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  int port() const { return port_; }
  // Sends SIGTERM and returns the exit status.
  int Stop();

  HttpResponse Get(const std::string& target, const std::string& extra_headers = {}) {
    return Raw(GetRequest(target, extra_headers));
  }
  HttpResponse Post(const std::string& target, const std::string& body,
                    const std::string& content_type = kFormType,
                    const std::string& extra_headers = {}) {
    return Raw(PostRequest(target, body, content_type, extra_headers));
  }
  // Sends `request` on a new connection, from the loopback address `from` when given.
  HttpResponse Raw(const std::string& request, bool head_only = false,
                   const std::string& from = {});

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// A new empty database on the PostgreSQL server under test, dropped when the object goes.
class ScratchDatabase {
 public:
  ScratchDatabase();
  ~ScratchDatabase();
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;
  const std::string& url() const { return url_; }

 private:
  std::string name_, url_;
};

// A site folder with a database for the page /log/board and WebPath "log", and the account
// "admin" with the password "secret".
class Site {
 public:
  Site();
  ~Site();
  Site(const Site&) = delete;
  Site& operator=(const Site&) = delete;
  const std::filesystem::path& root() const { return dir_.path(); }
  // The file, or the URL of the site's database on PostgreSQL.
  std::string database() const {
    return scratch_ ? scratch_->url() : (dir_.path() / "log" / "logs.mdb").string();
  }

 private:
  testing::TempDir dir_;
  std::unique_ptr<ScratchDatabase> scratch_;  // on PostgreSQL
};

// A browser's view of the server: one visitor, on the loopback address `from` when given, that
// takes up the session cookie it is sent and drops one that the server expires.
class Visitor {
 public:
  explicit Visitor(Server& server, std::string from = {})
      : server_(server), from_(std::move(from)) {}

  HttpResponse Get(const std::string& target) { return Keep(GetRequest(target, CookieLine())); }
  HttpResponse Post(const std::string& target, const std::string& body,
                    const std::string& content_type = kFormType) {
    return Keep(PostRequest(target, body, content_type, CookieLine()));
  }
  const std::string& cookie() const { return cookie_; }

 private:
  std::string CookieLine() const { return cookie_.empty() ? "" : "Cookie: " + cookie_ + "\r\n"; }
  HttpResponse Keep(const std::string& request);

  Server& server_;
  std::string from_, cookie_;
};

inline std::string AdminPage(const std::string& action) {
  return "/log/board?action=admin&do=" + action;
}
// An application/x-www-form-urlencoded body.
std::string Form(std::initializer_list<std::pair<std::string, std::string>> items);
// The page that a logon with `name` and `password` leads to.
inline std::string LogOn(Visitor& visitor, const std::string& name, const std::string& password) {
  return visitor.Post(AdminPage("logon"), Form({{"username", name}, {"password", password}})).body;
}
inline bool Has(const std::string& page, const std::string& text) {
  return page.find(text) != std::string::npos;
}
inline bool IsLoginForm(const std::string& page) {
  return Has(page, "color='#FFFFFF'>登陆</font>");
}
inline bool IsControlPanel(const std::string& page) { return Has(page, "控制面板"); }
inline bool IsWrongAccount(const std::string& page) {
  return Has(page, "<b>账号</b> 或 <b>密码</b> 错误！");
}

}  // namespace tessaly::e2e

#endif  // TESSALY_TESTS_E2E_HARNESS_H_
