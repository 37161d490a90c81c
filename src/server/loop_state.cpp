#include "server/loop_state.h"

#include <spdlog/spdlog.h>

#include <exception>

namespace tessaly::server {

void RunLoop(boost::asio::io_context& io, std::string_view role) {
  for (;;) {
    try {
      io.run();
      return;
    } catch (const std::exception& error) {
      spdlog::error("{} thread: {}", role, error.what());
    }
  }
}

}  // namespace tessaly::server
