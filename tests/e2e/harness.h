// End-to-end support: a temporary site, the real tessaly program serving it on a loopback port,
// a visitor that keeps its session cookie as a browser does, and nginx in front.
#ifndef TESSALY_TESTS_E2E_HARNESS_H_
#define TESSALY_TESTS_E2E_HARNESS_H_

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/entries.h"
#include "support/http_client.h"
#include "support/page_text.h"
#include "support/scratch_database.h"
#include "support/temp_dir.h"

namespace tessaly::e2e {

using support::Has;
using support::HttpResponse;
using support::Ids;
using support::Row;
using support::Rows;
using Connection = support::HttpConnection;

// With TESSALY_E2E_BACKEND=postgres every Site is a fresh database on the PostgreSQL server that
// TESSALY_TEST_POSTGRES names (a URL of any database there, used to create and drop them), and
// the tests of a run that names no server are skipped. Otherwise every Site is an SQLite file.
bool OnPostgres();

struct CommandResult {
  int status = -1;
  std::string out, err;
};
// Runs tessaly with `args`, feeding `input` on stdin.
CommandResult RunTessaly(const std::vector<std::string>& args, const std::string& input = {});

// A new connection to 127.0.0.1:`port` from the loopback address `from`.
std::unique_ptr<Connection> ConnectFrom(int port, const std::string& from);
// Sends `request` on a new connection to 127.0.0.1:`port`, from the loopback address `from`
// when given (the logon guard tells clients apart by it), and reads one answer.
HttpResponse Fetch(int port, const std::string& request, const std::string& from = {});
// A GET that closes its connection.
std::string GetRequest(const std::string& target, const std::string& headers = {});

// A new empty database on the PostgreSQL server under test, dropped when the object goes.
using support::ScratchDatabase;

// A site folder with a database for the page /log/board and WebPath "log", and the account
// "admin" with the password "secret".
class Site {
 public:
  Site();
  const std::filesystem::path& root() const { return dir_.path(); }
  // The file, or the URL of the site's database on PostgreSQL.
  const std::string& database() const { return database_; }
  // The tessaly `command` for this site: its --root, on PostgreSQL its --database, then `more`.
  std::vector<std::string> Command(const std::string& command,
                                   std::initializer_list<std::string> more = {}) const;

 private:
  support::TempDir dir_;
  std::unique_ptr<ScratchDatabase> scratch_;  // on PostgreSQL
  std::string database_;
};

class Server {
 public:
  // Runs `serve_command` (tessaly's arguments, "serve" first) on 127.0.0.1 and a free port,
  // stopping at once on SIGTERM unless the command names its --drain-seconds.
  explicit Server(std::vector<std::string> serve_command);
  explicit Server(const Site& site, std::initializer_list<std::string> more = {})
      : Server(site.Command("serve", more)) {}
  ~Server();  // stops it, expecting a clean exit
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  // Sends SIGTERM and returns the exit status.
  int Stop();
  // Waits for it to exit by itself and returns the exit status.
  int Wait();
  HttpResponse Get(const std::string& target, const std::string& headers = {}) const {
    return Fetch(port_, GetRequest(target, headers));
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// A browser's view of a server: one visitor, on the loopback address `from` when given, that
// takes up the session cookie it is sent and drops one that the server expires.
class Visitor {
 public:
  explicit Visitor(int port, std::string from = {}) : port_(port), from_(std::move(from)) {}
  explicit Visitor(const Server& server, std::string from = {})
      : Visitor(server.port(), std::move(from)) {}

  HttpResponse Get(const std::string& target) { return Keep(GetRequest(target, CookieLine())); }
  HttpResponse Post(const std::string& target, const std::string& body,
                    const std::string& type = "application/x-www-form-urlencoded");
  // The page that a logon leads to.
  std::string LogOn(const std::string& name = "admin", const std::string& password = "secret");

  std::string cookie;

 private:
  std::string CookieLine() const { return cookie.empty() ? "" : "Cookie: " + cookie + "\r\n"; }
  HttpResponse Keep(const std::string& request);

  int port_;
  std::string from_;
};

// nginx in a folder of its own on a free loopback port, with the text inside http { } that
// `servers(port)` gives. Fails the test when nginx does not start; stopped when the object goes.
class Nginx {
 public:
  Nginx(const std::filesystem::path& dir, const std::function<std::string(int port)>& servers);
  ~Nginx();
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;
  int port() const { return port_; }

 private:
  int port_;
  pid_t pid_ = -1;
};
bool HaveNginx();
// The servers of deploy/nginx.conf pointed at the site folder `site`, at tessaly on
// `tessaly_port` and at a cache under `cache_dir`; with `own_includes`, nginx expands includes
// itself, the alternative the file describes.
std::function<std::string(int port)> Deployed(const std::filesystem::path& site, int tessaly_port,
                                              const std::filesystem::path& cache_dir,
                                              bool own_includes = false);

inline std::string AdminPage(const std::string& action) {
  return "/log/board?action=admin&do=" + action;
}
// An application/x-www-form-urlencoded body.
std::string Form(std::initializer_list<std::pair<std::string, std::string>> items);
inline bool IsLoginForm(const std::string& page) {
  return Has(page, "color='#FFFFFF'>登陆</font>");
}
inline bool IsControlPanel(const std::string& page) { return Has(page, "控制面板"); }
inline bool IsWrongAccount(const std::string& page) {
  return Has(page, "<b>账号</b> 或 <b>密码</b> 错误！");
}

}  // namespace tessaly::e2e

#endif  // TESSALY_TESTS_E2E_HARNESS_H_
