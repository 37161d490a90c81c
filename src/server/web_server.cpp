#include "server/web_server.h"

#include "server/server_core.h"

namespace tessaly::server {

WebServer::WebServer(ServerConfig config, PageHandler handler, std::shared_ptr<Sessions> sessions,
                     const PageGates& gates)
    : core_(std::make_unique<ServerCore>(std::move(config), std::move(handler), std::move(sessions),
                                         gates)) {}

WebServer::~WebServer() = default;

void WebServer::Listen() { core_->Listen(); }
std::string WebServer::Url() const { return core_->Url(); }
void WebServer::Run() { core_->Run(); }
void WebServer::Stop() { core_->Stop(); }

}  // namespace tessaly::server
