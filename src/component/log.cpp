#include "component/log.h"

#include <algorithm>

#include "data/schema.h"
#include "base/errors.h"

namespace tessaly {

void LOG::OnStartPage(host::ScriptingContext& context) {
  response_ = &context.response;
  request_ = &context.request;
  application_ = &context.application;
  server_ = &context.server;
  session_ = &context.session;
}

void LOG::OnEndPage() {
  response_ = nullptr;
  request_ = nullptr;
  application_ = nullptr;
  server_ = nullptr;
  session_ = nullptr;
  // Releasing the data objects closes them; nothing is closed explicitly.
  log_recordset_.reset();
  log_command_.reset();
}

void LOG::Main() {
  script_name_ = request().ServerVariable("SCRIPT_NAME");
  const std::string action = request().Item("action");
  if (action == "hotnews") {
    WriteHotNews();
  } else if (action == "list") {
    WriteLogList();
  } else if (action == "show") {
    ShowLogEntry();
  } else if (action == "admin") {
    AdminMain();
  } else if (action == "image") {
    ServeImage();
  } else {
    WriteHotNews();
  }
}

host::Request& LOG::request() const {
  if (!request_) throw Error("the page has no Request object (OnStartPage was not called)");
  return *request_;
}

host::Response& LOG::response() const {
  if (!response_) throw Error("the page has no Response object (OnStartPage was not called)");
  return *response_;
}

host::Server& LOG::server() const {
  if (!server_) throw Error("the page has no Server object (OnStartPage was not called)");
  return *server_;
}

host::Session& LOG::session() const {
  if (!session_) throw Error("the page has no Session object (OnStartPage was not called)");
  return *session_;
}

std::string DatabaseFileFor(const std::string& root_folder, const std::string& page_folder,
                            std::string web_path) {
  if (web_path.empty()) return page_folder + "/" + data::kDatabaseFileName;
  std::replace(web_path.begin(), web_path.end(), '\\', '/');
  return root_folder + "/" + web_path + "/" + data::kDatabaseFileName;
}

std::string LOG::DatabasePath() const {
  return web_path_.empty() ? DatabaseFileFor({}, server().MapPath("."), web_path_)
                           : DatabaseFileFor(server().MapPath("/"), {}, web_path_);
}

void LOG::OpenRecordset() {
  const std::string path = DatabasePath();
  log_recordset_.reset();
  log_recordset_ = std::make_unique<data::Recordset>(pool_.Get(path)->Acquire(), sql_text_);
}

void LOG::OpenCommand() {
  const std::string path = DatabasePath();
  log_command_.reset();
  log_command_ = std::make_unique<data::Command>(pool_.Get(path)->Acquire());
}

}  // namespace tessaly
