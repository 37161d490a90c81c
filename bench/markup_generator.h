// The content of the markup benchmark (markup_bench.cpp), driven by a seed.
#ifndef TESSALY_BENCH_MARKUP_GENERATOR_H_
#define TESSALY_BENCH_MARKUP_GENERATOR_H_

#include <cstddef>
#include <string>

namespace tessaly::text::testing {

// A content of about `bytes` bytes holding about `brackets` brackets: a mix of tag pairs
// (nested and flat), img tags, unknown tags, unclosed openings and bracket pairs that form
// no tag, already escaped as the add form would store it.
std::string BenchmarkContent(size_t bytes, size_t brackets, unsigned seed);

}  // namespace tessaly::text::testing

#endif  // TESSALY_BENCH_MARKUP_GENERATOR_H_
