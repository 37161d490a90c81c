#include "server/health.h"

#include <exception>

namespace tessaly::server {

namespace http = boost::beast::http;

Health::Health(std::string path, HealthProbe probe)
    : path_(std::move(path)), probe_(std::move(probe)) {
  if (!probe_) return;
  ProbeOnce();
  thread_ = std::jthread([this](const std::stop_token& stop) { Run(stop); });
}

Health::~Health() = default;

void Health::ProbeOnce() {
  std::string trouble;
  try {
    trouble = probe_();
  } catch (const std::exception& error) {
    trouble = error.what();
  } catch (...) {
    trouble = "the health probe failed";
  }
  // One line, whatever the database said.
  for (char& c : trouble) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  std::lock_guard lock(mutex_);
  trouble_ = std::move(trouble);
  probed_ = Clock::now();
}

void Health::Run(const std::stop_token& stop) {
  std::mutex sleep_mutex;
  std::unique_lock sleep_lock(sleep_mutex);
  for (;;) {
    wake_.wait_for(sleep_lock, stop, kProbeEvery, [] { return false; });
    if (stop.stop_requested()) return;
    ProbeOnce();
  }
}

std::string Health::Trouble() const {
  if (draining_) return "draining";
  if (!probe_) return {};
  std::lock_guard lock(mutex_);
  const auto age = Clock::now() - probed_;
  if (age > kResultLasts) {
    return "the database has not answered for " +
           std::to_string(std::chrono::duration_cast<std::chrono::seconds>(age).count()) + " s";
  }
  return trouble_;
}

void Health::Respond(Answer& answer) const {
  const std::string trouble = Trouble();
  answer.head.Start(trouble.empty() ? http::status::ok : http::status::service_unavailable);
  answer.head.Add("Content-Type", "text/plain; charset=utf-8");
  answer.head.Add("Cache-Control", "no-store");
  answer.body = trouble.empty() ? "ok" : trouble;
  answer.body += '\n';
  answer.content_length = answer.body.size();
}

}  // namespace tessaly::server
