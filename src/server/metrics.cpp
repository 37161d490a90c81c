#include "server/metrics.h"

#include <prometheus/counter.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

namespace tessaly::server {
namespace {

// Seconds: from a static file or a kept page (well under a millisecond) to a slow search or a
// logon's password hash (about a second).
const prometheus::Histogram::BucketBoundaries kLatencyBuckets{
    0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025,
    0.05,   0.1,     0.25,   0.5,   1,      2.5,   5,    10};

constexpr std::array<const char*, 3> kConnectionRefusalNames{"address_share", "evicted",
                                                             "server_full"};

}  // namespace

struct ServerMetrics::Pulled {
  prometheus::MetricFamily family;  // its values filled in at each scrape
  std::vector<Reader> readers;      // one for each of family.metric
};

ServerMetrics::ServerMetrics(RouteKinds kinds)
    : kinds_(std::move(kinds)), registry_(std::make_shared<prometheus::Registry>()) {
  auto& requests = prometheus::BuildCounter()
                       .Name("tessaly_requests_total")
                       .Help("Requests answered, by route kind and status class.")
                       .Register(*registry_);
  auto& latency = prometheus::BuildHistogram()
                      .Name("tessaly_request_duration_seconds")
                      .Help(
                          "Time from a request's first byte read to its answer's last byte "
                          "sent, by route kind.")
                      .Register(*registry_);
  for (std::size_t kind = 0; kind < kinds_.size(); ++kind) {
    const std::string route(kinds_.Name(kind));
    auto& by_class = requests_.emplace_back();
    for (std::size_t status_class = 0; status_class < kStatusClasses; ++status_class) {
      by_class[status_class] =
          &requests.Add({{"route", route}, {"status", std::string(StatusClassName(status_class))}});
    }
    latency_.push_back(&latency.Add({{"route", route}}, kLatencyBuckets));
  }
  body_budget_refusals_ =
      &prometheus::BuildCounter()
           .Name("tessaly_body_budget_refusals_total")
           .Help(
               "Request bodies refused (503) because the bodies being read held all the "
               "memory they may hold.")
           .Register(*registry_)
           .Add({});
  auto& connections = prometheus::BuildCounter()
                          .Name("tessaly_connection_refusals_total")
                          .Help(
                              "Connections refused at the address's share (503), closed "
                              "while waiting to make room, or held because the server was "
                              "full.")
                          .Register(*registry_);
  for (std::size_t i = 0; i < kConnectionRefusalNames.size(); ++i) {
    connection_refusals_[i] = &connections.Add({{"cause", kConnectionRefusalNames[i]}});
  }
}

ServerMetrics::~ServerMetrics() = default;

void ServerMetrics::CountRequest(std::size_t kind, unsigned status,
                                 std::chrono::steady_clock::duration took) {
  if (kind >= requests_.size()) kind = kinds_.None();
  requests_[kind][StatusClass(status)]->Increment();
  latency_[kind]->Observe(std::chrono::duration<double>(took).count());
}

void ServerMetrics::CountBodyBudgetRefusal() { body_budget_refusals_->Increment(); }

void ServerMetrics::CountConnectionRefusal(ConnectionRefusal why) {
  connection_refusals_[static_cast<std::size_t>(why)]->Increment();
}

void ServerMetrics::AddGauge(std::string name, std::string help, Reader read) {
  Pulled& pulled = pulled_.emplace_back();
  pulled.family = {std::move(name), std::move(help), prometheus::MetricType::Gauge, {{}}};
  pulled.readers.push_back(std::move(read));
}

void ServerMetrics::AddCounter(std::string name, std::string help, Reader read) {
  Pulled& pulled = pulled_.emplace_back();
  pulled.family = {std::move(name), std::move(help), prometheus::MetricType::Counter, {{}}};
  pulled.readers.push_back(std::move(read));
}

void ServerMetrics::AddCounters(std::string name, std::string help, const std::string& label,
                                const std::vector<std::pair<std::string, Reader>>& series) {
  Pulled& pulled = pulled_.emplace_back();
  pulled.family = {std::move(name), std::move(help), prometheus::MetricType::Counter, {}};
  for (const auto& [value, read] : series) {
    prometheus::ClientMetric metric;
    metric.label.push_back({label, value});
    pulled.family.metric.push_back(std::move(metric));
    pulled.readers.push_back(read);
  }
}

std::string ServerMetrics::Render() const {
  std::vector<prometheus::MetricFamily> families = registry_->Collect();
  for (const Pulled& pulled : pulled_) {
    prometheus::MetricFamily& family = families.emplace_back(pulled.family);
    for (std::size_t i = 0; i < family.metric.size(); ++i) {
      const double value = pulled.readers[i]();
      if (family.type == prometheus::MetricType::Counter) {
        family.metric[i].counter.value = value;
      } else {
        family.metric[i].gauge.value = value;
      }
    }
  }
  return prometheus::TextSerializer().Serialize(families);
}

}  // namespace tessaly::server
