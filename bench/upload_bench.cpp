// Takes apart upload bodies of 100 KB, 1 MB and 10 MB: all five results, as the upload page
// asks for them. Parse time must grow no faster than the body: the time per MB ("per_MB") at
// 10 MB should stay within 1.5 times that at 100 KB.
//
//   build/bench/upload_bench --benchmark_counters_tabular=true
//
// Browser: the form as a browser sends it; the file ends at the button's part near the end.
// NoButton: no part after the file, so the search for the last delimiter line reads the whole
// body back to its first line (and the file step then fails, as it must).
// LongFirstLine: a quarter of the body is the first line, and the file repeats its characters,
// so a search that compares from each candidate position would cost the product of the two.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "base/errors.h"
#include "images/pictures.h"
#include "images/upload_body.h"

namespace {

std::string RandomBytes(std::size_t size) {
  std::mt19937_64 random(42);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string Body(const std::string& shape, std::size_t size) {
  tessaly::support::FormUpload form;
  if (shape == "LongFirstLine") {
    form.boundary = std::string(size / 4, 'a');
    form.bytes = std::string(size / 2, 'a');
  } else {
    form.bytes = RandomBytes(size);
    form.submit_button = shape != "NoButton";
  }
  return form.Body();
}

void Parse(benchmark::State& state, const std::string& shape) {
  const std::string body = Body(shape, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const tessaly::images::UploadBody parsed(body);
    benchmark::DoNotOptimize(parsed.ContentType());
    benchmark::DoNotOptimize(parsed.FileName());
    try {
      benchmark::DoNotOptimize(parsed.FileBytes());
    } catch (const tessaly::InvalidArgument&) {
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
  state.counters["per_MB"] = benchmark::Counter(
      static_cast<double>(body.size()) / 1e6,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Browser(benchmark::State& state) { Parse(state, "Browser"); }
void BM_NoButton(benchmark::State& state) { Parse(state, "NoButton"); }
void BM_LongFirstLine(benchmark::State& state) { Parse(state, "LongFirstLine"); }

#define SIZES ->Arg(100'000)->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_Browser) SIZES;
BENCHMARK(BM_NoButton) SIZES;
BENCHMARK(BM_LongFirstLine) SIZES;

}  // namespace
