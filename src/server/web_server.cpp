#include "server/web_server.h"

#include "server/server_core.h"

namespace tessaly::server {

WebServer::WebServer(ServerConfig config, const LoopPagesMaker& pages,
                     std::shared_ptr<Sessions> sessions)
    : core_(std::make_unique<ServerCore>(std::move(config), pages, std::move(sessions))) {}

WebServer::WebServer(ServerConfig config, PageHandler handler, std::shared_ptr<Sessions> sessions)
    : WebServer(
          std::move(config),
          [handler = std::move(handler)](boost::asio::io_context&) {
            return LoopPages{.gate = {}, .handler = handler, .slow = {}};
          },
          std::move(sessions)) {}

WebServer::~WebServer() = default;

void WebServer::SetHealthProbe(HealthProbe probe) { core_->SetHealthProbe(std::move(probe)); }
void WebServer::SetReload(std::shared_ptr<LiveSettings> settings,
                          std::function<ServerConfig()> read) {
  core_->SetReload(std::move(settings), std::move(read));
}
void WebServer::UseMetrics(std::shared_ptr<ServerMetrics> metrics) {
  core_->UseMetrics(std::move(metrics));
}
void WebServer::Listen() { core_->Listen(); }
std::string WebServer::Url() const { return core_->Url(); }
void WebServer::Run() { core_->Run(); }
void WebServer::Stop() { core_->Stop(); }

}  // namespace tessaly::server
