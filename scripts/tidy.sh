#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) over every source file under src/, with the compile database of
# the build folder given, JOBS files at a time; fails when it reports anything.
# Usage: scripts/tidy.sh BUILD_DIR [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: scripts/tidy.sh BUILD_DIR [JOBS]}
jobs=${2:-$(nproc)}
[[ -f $build/compile_commands.json ]] || { echo "tidy.sh: no $build/compile_commands.json" >&2; exit 1; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# run-clang-tidy takes a regular expression of the files to check; its exit status says only
# whether clang-tidy ran, so the findings are counted from its output.
run-clang-tidy -p "$build" -j "$jobs" -quiet "^$PWD/src/.*\.cpp$" >"$log" 2>&1 || true
if grep -E '(warning|error): ' "$log"; then
  echo "clang-tidy: findings above" >&2
  exit 1
fi
echo "clang-tidy: $(grep -c '^clang-tidy' "$log" || true) files, no findings"
