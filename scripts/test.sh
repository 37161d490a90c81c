#!/usr/bin/env bash
# Builds and runs every test: the normal build with warnings as errors, the browser tests and
# the Debian package's test (it installs and purges the package: run as root), the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, and a short fuzzing run of the
# converters.
# The end-to-end suites run twice, the second time on a throwaway PostgreSQL cluster that this
# script starts (a Unix socket in a temporary folder) and removes at the end.
# Usage: scripts/test.sh [--quick]   (--quick: the normal build, its tests, clang-format and
# clang-tidy only)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

echo "== a throwaway PostgreSQL cluster"
eval "$(scripts/postgres.sh start)"
trap 'scripts/postgres.sh stop "$TESSALY_PG_DIR"' EXIT

jobs=$(nproc)
echo "== build (warnings as errors)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== clang-format (check) on the C++ of the repository"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "== clang-tidy over src/, from the build's compile database"
scripts/tidy.sh build "$jobs"

[[ ${1:-} == --quick ]] && exit 0

echo "== browser tests in Debian's chromium (screenshots: build/browser-screenshots)"
tests/browser/run.sh build

echo "== Debian package: built in build-package, installed, used and purged"
scripts/package.sh
packaging/test-package.sh build-package/tessaly_*.deb

echo "== fuzzing the markup converters and the upload parser, 60 s each (log: build-fuzz/fuzz.log)"
mkdir -p build-fuzz
if ! fuzz/run.sh 60 >build-fuzz/fuzz.log 2>&1; then
  tail -n 40 build-fuzz/fuzz.log
  echo "fuzzing found a fault" >&2
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units)' build-fuzz/fuzz.log || true

echo "== build with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSALY_WERROR=ON \
  -DTESSALY_SANITIZE=ON -DTESSALY_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
echo "== tests under the sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

