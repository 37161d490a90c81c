#!/usr/bin/env bash
# What a page with one server-side include costs: a .shtml page that includes the hot news
# block, against the block fetched alone and a static file, side by side in one run.
# Usage: bench/includes.sh [seconds per measurement, default 5]
# Needs: build/tessaly, wrk, sqlite3.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh

site=$work/site
make_site "$site" 1000
cat >"$site/page.shtml" <<'PAGE'
<!DOCTYPE html><html><head><meta charset="utf-8"><title>首页</title></head><body>
<h1>首页</h1><!--#include virtual="/log/board?action=hotnews" --></body></html>
PAGE
cp "$site/page.shtml" "$site/page.html"
# Pages as a site has them: not written in the last seconds, which the server reads again.
touch -d '-1 minute' "$site/page.shtml" "$site/page.html"
start_server "$site"

echo "wrk: 1 thread, $connections connections, ${secs}s each; tessaly --threads $threads;" \
  "median of $rounds rounds, measured round-robin"
declare -A results
names=(block page static)
declare -A urls=([block]="$url/log/board?action=hotnews" [page]="$url/page.shtml"
  [static]="$url/page.html")
for ((r = 0; r < rounds; r++)); do
  for n in "${names[@]}"; do results[$n]+="$(rps "${urls[$n]}") "; done
done
for n in "${names[@]}"; do declare "$n=$(median "${results[$n]}")"; done
row() { printf '%-44s %10s\n' "$1" "$2"; }
row "hot news block alone" "$block"
row "static page (same bytes, no include)" "$static"
row ".shtml page including the block" "$page"
row "  page / block alone" "$(ratio "$page" "$block")"
