// What the administration suites share: form bodies, logging a visitor on, a look into the
// site's database, and a form post from another loopback address.
#ifndef TESSALY_TESTS_E2E_ADMIN_SUPPORT_H_
#define TESSALY_TESTS_E2E_ADMIN_SUPPORT_H_

#include <sqlite3.h>

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>

#include "e2e/admin_loopback.h"
#include "e2e/harness.h"
#include "e2e/visitor.h"

namespace tessaly::e2e {

inline std::string AdminPage(const std::string& action) {
  return "/log/board?action=admin&do=" + action;
}

// An application/x-www-form-urlencoded body.
inline std::string Form(std::initializer_list<std::pair<std::string, std::string>> items) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string body;
  for (const auto& [name, value] : items) {
    if (!body.empty()) body += '&';
    body += name + '=';
    for (unsigned char c : value) {
      if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
        body += static_cast<char>(c);
      } else {
        body += '%';
        body += kHex[c >> 4];
        body += kHex[c & 15];
      }
    }
  }
  return body;
}

inline std::string LogOn(Visitor& visitor, const std::string& name, const std::string& password) {
  return visitor.Post(AdminPage("logon"), Form({{"username", name}, {"password", password}})).body;
}

inline bool IsControlPanel(const std::string& page) {
  return page.find("控制面板") != std::string::npos;
}
inline bool IsWrongAccount(const std::string& page) {
  return page.find("<b>账号</b> 或 <b>密码</b> 错误！") != std::string::npos;
}

// The first column of the first row of `sql` on the database file, as text; "" for no row.
inline std::string QueryOne(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + file);
  }
  sqlite3_stmt* stmt = nullptr;
  std::string value;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0)) {
    value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return value;
}

// The page that a form post to `target` gets when it comes from the loopback address `source`
// (such as 127.0.0.2), as another client would send it.
inline std::string PostFrom(const std::string& source, int port, const std::string& target,
                            const std::string& body) {
  const int fd = ConnectFrom(source, port);
  const std::string request = "POST " + target +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                              "application/x-www-form-urlencoded\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  std::string answer;
  if (send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
  }
  close(fd);
  const std::size_t body_start = answer.find("\r\n\r\n");
  return body_start == std::string::npos ? std::string() : answer.substr(body_start + 4);
}

}  // namespace tessaly::e2e

#endif  // TESSALY_TESTS_E2E_ADMIN_SUPPORT_H_
