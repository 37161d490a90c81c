// ServerMetrics::CountRequest, what every answered request pays: a counter's increment and a
// histogram's observation. With two threads both count into the same series, as two event
// loops serving the hot news block do.
#include <benchmark/benchmark.h>

#include <chrono>

#include "server/metrics.h"

namespace {

using tessaly::server::RouteKinds;
using tessaly::server::ServerMetrics;

ServerMetrics& Metrics() {
  static ServerMetrics metrics(RouteKinds({"hotnews", "list", "show", "admin"}));
  return metrics;
}

void BM_CountRequest(benchmark::State& state) {
  ServerMetrics& metrics = Metrics();
  const std::size_t kind = metrics.kinds().OfPage("action=hotnews", "");
  for (auto _ : state) {
    metrics.CountRequest(kind, 200, std::chrono::microseconds(180));
  }
}
BENCHMARK(BM_CountRequest)->Threads(1)->Threads(2)->UseRealTime();

// The route kind of a page request, found from its query once per request.
void BM_RouteKindOfPage(benchmark::State& state) {
  ServerMetrics& metrics = Metrics();
  for (auto _ : state) {
    benchmark::DoNotOptimize(metrics.kinds().OfPage("action=show&id=12345", ""));
  }
}
BENCHMARK(BM_RouteKindOfPage);

}  // namespace
