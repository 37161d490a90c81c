#include "app/progress.h"

#include <spdlog/spdlog.h>
#include <unistd.h>

#include <iostream>

namespace tessaly::app {

Progress::Progress(LineFn line, std::int64_t log_every)
    : line_(std::move(line)), log_every_(log_every), terminal_(::isatty(STDERR_FILENO) != 0) {}

void Progress::operator()(std::int64_t done, std::int64_t total) {
  if (terminal_) {
    std::cerr << "\r" << line_(done, total) << std::flush;
    if (done == total) std::cerr << "\n";
  } else if (log_every_ > 0 && (done == total || done - logged_ >= log_every_)) {
    spdlog::info("{}", line_(done, total));
    logged_ = done;
  }
}

}  // namespace tessaly::app
