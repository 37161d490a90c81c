#!/usr/bin/env bash
# Runs the browser walk-through against BUILD_DIR/tessaly (default build/): installs the pinned
# playwright-core from package-lock.json when it is missing or stale, then drives Debian's
# chromium (scripts/setup.sh installs it). Screenshots: BUILD_DIR/browser-screenshots/.
# Usage: tests/browser/run.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)

[[ -x $build/tessaly ]] || { echo "browser tests: no $build/tessaly; build it first" >&2; exit 1; }
[[ -x ${CHROMIUM:-/usr/bin/chromium} ]] || {
  echo "browser tests: no chromium; scripts/setup.sh installs it" >&2
  exit 1
}
node_major=$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null || echo 0)
if ((node_major < 20)); then
  echo "browser tests: playwright-core needs Node.js 20 or later (found: $(node --version 2>&1))" >&2
  exit 1
fi

cd "$here"
stamp=node_modules/.package-lock.json
if [[ ! -f $stamp || package-lock.json -nt $stamp ]]; then
  npm ci --no-audit --no-fund --loglevel=error
fi
TESSALY_BUILD_DIR=$build node --test --test-concurrency=1 site.test.mjs
