#!/usr/bin/env bash
# What scraping the metrics costs the pages: the hot news rate (wrk on loopback) alone, and
# while a scraper fetches /metrics ten times a second, measured in turn in each of ROUNDS rounds
# on one server, then the ratio of the medians. The goal: the scraped rate is at least 95 % of
# the rate alone.
# Usage: bench/metrics.sh [seconds per measurement, default 5]
# Env: THREADS (2), CONNECTIONS (32), ROUNDS (5), ENTRIES (1000), TESSALY (binary).
# Needs: build/tessaly, wrk, sqlite3, curl.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${ROUNDS:-5}
entries=${ENTRIES:-1000}
source bench/lib.sh

site=$work/site
mkdir -p "$site"
"$bin" init --root "$site" --user admin --password bench >/dev/null
sqlite3 "$site/log/logs.mdb" "
  WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $entries)
  INSERT INTO MESSAGE (TITLE, CONTENT) SELECT '网站日志第 ' || i || ' 条', '内容' FROM n;"
start_server "$site"
page=$url/log/board?action=hotnews
curl -sf -o /dev/null "$page"

# Starts a fetch of the metrics every tenth of a second, each on a new connection as Prometheus
# makes after an idle interval, until killed; checks the last answer and counts the scrapes
# started in $work/scrapes.
scraper() {
  local n=0
  while true; do
    curl -sf -o "$work/last-scrape" "$url/metrics" &
    n=$((n + 1))
    echo "$n" >"$work/scrapes"
    sleep 0.1
  done
}

alone=() scraped=()
echo "hot news, wrk -t1 -c$connections for ${secs}s, $threads server threads, $rounds rounds"
printf '%6s %14s %14s\n' round alone scraped
for ((r = 1; r <= rounds; r++)); do
  a=$(rps "$page")
  scraper &
  scraping=$!
  pids+=("$scraping")
  s=$(rps "$page")
  kill "$scraping"
  wait "$scraping" 2>/dev/null || true
  alone+=("$a")
  scraped+=("$s")
  printf '%6d %14s %14s\n' "$r" "$a" "$s"
done
scrapes=$(cat "$work/scrapes" 2>/dev/null || echo 0)
grep -q '^tessaly_requests_total{route="hotnews",status="2xx"}' "$work/last-scrape" ||
  { echo "the scrapes did not get the metrics" >&2; exit 1; }
echo "scrapes in the last round: $scrapes (about $(awk -v n="$scrapes" -v s="$secs" 'BEGIN {printf "%.1f", n / s}')/s)"
ma=$(median "${alone[*]}")
ms=$(median "${scraped[*]}")
echo "median requests/s: alone $ma, scraped $ms; scraped / alone: $(ratio "$ms" "$ma") (goal: >= 95 %)"
