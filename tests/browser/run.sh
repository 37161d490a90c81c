#!/usr/bin/env bash
# Runs the browser walk-through against BUILD_DIR/tessaly (default build/) in Debian's chromium
# (scripts/setup.sh installs it), installing the pinned playwright-core when it is missing or
# stale. Screenshots: BUILD_DIR/browser-screenshots/.
# Usage: tests/browser/run.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
[[ -x $build/tessaly ]] || { echo "browser tests: no $build/tessaly; build it first" >&2; exit 1; }
[[ -x ${CHROMIUM:-/usr/bin/chromium} ]] || { echo "browser tests: no chromium" >&2; exit 1; }
if (($(node -p 'process.versions.node.split(".")[0]' 2>/dev/null || echo 0) < 20)); then
  echo "browser tests: playwright-core needs Node.js 20 or later" >&2
  exit 1
fi
cd "$here"
stamp=node_modules/.package-lock.json
if [[ ! -f $stamp || package-lock.json -nt $stamp ]]; then
  npm ci --no-audit --no-fund --loglevel=error
fi
TESSALY_BUILD_DIR=$build node --test --test-concurrency=1 site.test.mjs
