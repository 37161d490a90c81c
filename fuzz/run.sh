#!/bin/sh
# Builds the markup fuzz target with clang and runs it for a bounded time.
#   fuzz/run.sh [SECONDS]   (default 60)
# Exits non-zero when the fuzzer finds a crash, a sanitizer report or a hang.
set -eu
seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TESSALY_FUZZ_BUILD:-$root/build-fuzz}"

CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DTESSALY_FUZZ=ON -DBUILD_TESTING=OFF \
  -DTESSALY_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target markup_fuzz -j2

corpus="$build/fuzz/markup_corpus"
mkdir -p "$corpus"
cd "$build/fuzz"
exec ./markup_fuzz "$corpus" -max_total_time="$seconds" -timeout=10 -max_len=8192 \
  -print_final_stats=1
