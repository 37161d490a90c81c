// In-memory host objects for driving the component without a web server.
#ifndef TESSALY_TESTS_SUPPORT_FAKE_HOST_H_
#define TESSALY_TESTS_SUPPORT_FAKE_HOST_H_

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"

namespace tessaly::support {

using Items = std::vector<std::pair<std::string, std::string>>;

class FakeRequest : public host::Request {
 public:
  Items query, form, cookies;
  std::map<std::string, std::string> server_variables;
  std::string raw_query, body;
  bool other_origin = false;

  std::string Item(std::string_view name) const override {
    for (const Items* items : {&query, &form, &cookies}) {
      std::optional<std::string> joined;  // repeats joined as the server joins them
      for (const auto& [k, v] : *items) {
        if (k == name) joined = joined ? *joined + ", " + v : v;
      }
      if (joined) return *joined;
    }
    return ServerVariable(name);
  }
  std::string ServerVariable(std::string_view name) const override {
    auto it = server_variables.find(std::string(name));
    return it == server_variables.end() ? std::string() : it->second;
  }
  std::string QueryString() const override { return raw_query; }
  std::int64_t TotalBytes() const override { return static_cast<std::int64_t>(body.size()); }
  std::string BinaryRead(std::int64_t count) override {
    std::string out = body.substr(read_, static_cast<std::size_t>(count));
    read_ += out.size();
    return out;
  }
  bool FromOtherOrigin() const override { return other_origin; }

 private:
  std::size_t read_ = 0;
};

class FakeResponse : public host::Response {
 public:
  std::string body;
  std::string content_type = "text/html; charset=utf-8";
  Items headers;
  int status = 200;
  bool ended = false;

  void Write(std::string_view text) override {
    if (!ended) body += text;
  }
  void BinaryWrite(std::string_view bytes) override { Write(bytes); }
  void SetContentType(std::string_view type) override { content_type = type; }
  void AddHeader(std::string_view name, std::string_view value) override {
    host::CheckHeader(name, value);
    headers.emplace_back(name, value);
  }
  void SetStatus(int code) override {
    host::CheckStatus(code);
    status = code;
  }
  // The value of the header `name` added last, empty when none was.
  std::string Header(std::string_view name) const {
    for (auto it = headers.rbegin(); it != headers.rend(); ++it) {
      if (it->first == name) return it->second;
    }
    return {};
  }
  void End() override { ended = true; }
};

class FakeServer : public host::Server {
 public:
  std::string root, page_folder;
  std::string MapPath(std::string_view path) const override {
    if (path == ".") return page_folder;
    if (path == "/" || path == "\\") return root;
    return page_folder + "/" + std::string(path);
  }
};

class FakeSession : public host::Session {
 public:
  std::map<std::string, std::string> values;
  int timeout = 20;
  bool abandoned = false;
  std::string logged_on_as;     // the account of the last LogOn
  std::string ended_others_of;  // the account of the last EndOtherSessions

  std::string Value(std::string_view name) const override {
    auto it = values.find(std::string(name));
    return it == values.end() ? std::string() : it->second;
  }
  void SetValue(std::string_view name, std::string value) override {
    values[std::string(name)] = std::move(value);
  }
  void SetTimeout(int minutes) override { timeout = minutes; }
  void Abandon() override { abandoned = true; }
  void LogOn(std::string_view account) override { logged_on_as = account; }
  void EndOtherSessions(std::string_view account) override { ended_others_of = account; }
};

// One request's worth of host objects.
struct FakePage {
  FakeRequest request;
  FakeResponse response;
  FakeServer server;
  FakeSession session;
  host::Application application;
  host::ScriptingContext context{request, response, server, session, application};
};

}  // namespace tessaly::support

#endif  // TESSALY_TESTS_SUPPORT_FAKE_HOST_H_
