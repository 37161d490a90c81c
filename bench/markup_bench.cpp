// Converts a 100 KB content holding 10,000 brackets (tag pairs, nests, img tags, unknown and
// unclosed tags, bracket pairs that form no tag, escapes and one segment repeated many times)
// with MarkupToHtml and with the direct transcription of its algorithm.
//
//   build/bench/markup_bench --benchmark_counters_tabular=true
//
// The reference rescans and rebuilds the whole text for every bracket; compare the two times.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>

#include "markup_generator.h"
#include "reference_markup.h"
#include "text/markup.h"

namespace {

const std::string& Content() {
  static const std::string content = [] {
    std::string c = tessaly::text::testing::BenchmarkContent(82'000, 10'000, 1);
    if (tessaly::text::MarkupToHtml(c, "/log/board") !=
        tessaly::text::reference::MarkupToHtml(c, "/log/board")) {
      std::cerr << "markup_bench: the converters disagree on the benchmark content\n";
      std::abort();
    }
    return c;
  }();
  return content;
}

void SetCounters(benchmark::State& state) {
  size_t brackets = 0;
  for (char c : Content()) brackets += c == '[' || c == ']';
  state.counters["bytes"] = static_cast<double>(Content().size());
  state.counters["brackets"] = static_cast<double>(brackets);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Content().size()));
}

void BM_MarkupToHtml(benchmark::State& state) {
  Content();
  for (auto _ : state)
    benchmark::DoNotOptimize(tessaly::text::MarkupToHtml(Content(), "/log/board"));
  SetCounters(state);
}

void BM_ReferenceMarkupToHtml(benchmark::State& state) {
  Content();
  for (auto _ : state) {
    benchmark::DoNotOptimize(tessaly::text::reference::MarkupToHtml(Content(), "/log/board"));
  }
  SetCounters(state);
}

BENCHMARK(BM_MarkupToHtml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceMarkupToHtml)->Unit(benchmark::kMillisecond);

}  // namespace
