// The numbers an operator watches, in the Prometheus text format.
//
// Two sorts. What the server itself sees on the way of each request (requests by route kind and
// status class, their latency, refusals of bodies and connections) is counted as it happens in
// prometheus-cpp's counters and histograms, whose children are made once here and reached by
// index: a request costs a few atomic additions and no lookup by name. What other parts keep
// (the database pool, the caches, the sessions, the logon guard) is read from them when the
// metrics are scraped, through the readers added before serving starts.
//
// Every label value comes from a fixed set made at start-up (route_kind.h, and the labels the
// readers are added with), so no request can grow the output. Thread-safe: counting from any
// thread; Add* before serving starts, Render from any thread.
#ifndef TESSALY_SERVER_METRICS_H_
#define TESSALY_SERVER_METRICS_H_

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "server/route_kind.h"

namespace prometheus {
class Counter;
class Histogram;
class Registry;
}  // namespace prometheus

namespace tessaly::server {

// Why a connection was let go before it was served, or closed to make room.
enum class ConnectionRefusal {
  kAddressShare,  // its address group held its share (answered 503)
  kEvicted,       // waited for a request and was closed to make room for a new one
  kServerFull,    // accepted when every place was at work: held until one came free
};

class ServerMetrics {
 public:
  explicit ServerMetrics(RouteKinds kinds);
  ~ServerMetrics();
  ServerMetrics(const ServerMetrics&) = delete;
  ServerMetrics& operator=(const ServerMetrics&) = delete;

  const RouteKinds& kinds() const { return kinds_; }

  // One request answered: its route kind (kinds()), its status and how long it took from its
  // first byte read to its last byte sent.
  void CountRequest(std::size_t kind, unsigned status, std::chrono::steady_clock::duration took);
  // A request body refused because the bodies being read held the memory they may hold.
  void CountBodyBudgetRefusal();
  void CountConnectionRefusal(ConnectionRefusal why);

  // Figures read at each scrape. `name` is a valid metric name ending in "_total" for a
  // counter; every reader is called on the scraping thread and must be thread-safe.
  using Reader = std::function<double()>;
  void AddGauge(std::string name, std::string help, Reader read);
  void AddCounter(std::string name, std::string help, Reader read);
  // One series for each value of `label`.
  void AddCounters(std::string name, std::string help, const std::string& label,
                   const std::vector<std::pair<std::string, Reader>>& series);

  // Everything, in the text exposition format (version 0.0.4).
  std::string Render() const;

 private:
  struct Pulled;

  const RouteKinds kinds_;
  std::shared_ptr<prometheus::Registry> registry_;
  // By kind, then by status class; by kind.
  std::vector<std::array<prometheus::Counter*, kStatusClasses>> requests_;
  std::vector<prometheus::Histogram*> latency_;
  prometheus::Counter* body_budget_refusals_ = nullptr;
  std::array<prometheus::Counter*, 3> connection_refusals_{};
  std::vector<Pulled> pulled_;
};

// The content type of Render's text.
inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_METRICS_H_
