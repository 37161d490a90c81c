#!/usr/bin/env bash
# What scraping the metrics costs the pages: the hot news rate (wrk on loopback) alone, and
# while a scraper fetches /metrics ten times a second, measured in turn in each of ROUNDS rounds
# on one server; then the ratio of the medians and the median of each round's ratio, which a
# machine shared with other work needs. The goal: the scraped rate is at least 95 % of the rate
# alone.
# Usage: bench/metrics.sh [seconds per measurement, default 5]
# Env: THREADS (2), CONNECTIONS (32), ROUNDS (9), ENTRIES (1000), TESSALY (binary).
# Needs: build/tessaly, wrk, sqlite3, curl.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${ROUNDS:-9}
entries=${ENTRIES:-1000}
source bench/lib.sh

site=$work/site
make_site "$site" "$entries"
start_server "$site"
page=$url/log/board?action=hotnews
curl -sf -o /dev/null "$page"

# The rate of hot news while curl fetches the metrics ten times a second (its --rate) on one
# kept connection, as Prometheus does; the scrapes' texts go to $work/scraped.
scraped_rate() {
  local urls=() i
  for ((i = 0; i < secs * 10 + 10; i++)); do urls+=("$url/metrics"); done
  curl -s --rate 10/s "${urls[@]}" >"$work/scraped" &
  local scraper=$!
  rps "$page"
  kill "$scraper" 2>/dev/null || true
  wait "$scraper" 2>/dev/null || true
}

alone=() scraped=() ratios=()
echo "hot news, wrk -t1 -c$connections for ${secs}s, $threads server threads, $rounds rounds"
printf '%6s %14s %14s\n' round alone scraped
for ((r = 1; r <= rounds; r++)); do
  # Each in turn first, so that a machine getting busier or quieter favours neither.
  if ((r % 2)); then
    a=$(rps "$page")
    s=$(scraped_rate)
  else
    s=$(scraped_rate)
    a=$(rps "$page")
  fi
  alone+=("$a")
  scraped+=("$s")
  ratios+=("$(awk -v a="$a" -v s="$s" 'BEGIN { printf "%.1f", 100 * s / a }')")
  printf '%6d %14s %14s\n' "$r" "$a" "$s"
done
scrapes=$(grep -c '^# TYPE tessaly_requests_total counter' "$work/scraped" || true)
grep -q '^tessaly_requests_total{route="hotnews",status="2xx"}' "$work/scraped" ||
  { echo "the scrapes did not get the metrics" >&2; exit 1; }
echo "scrapes during the last scraped measurement of ${secs}s: $scrapes"
ma=$(median "${alone[*]}")
ms=$(median "${scraped[*]}")
echo "median requests/s: alone $ma, scraped $ms; scraped / alone: $(ratio "$ms" "$ma")"
echo "median of the rounds' own ratios (each round measures both, one after the other):" \
  "$(median "${ratios[*]}") % (goal: >= 95 %)"
# What the noise of a shared machine cannot hide: the server's own time per scrape, from its
# latency histogram, and the share of the server's threads that ten a second take.
curl -s "$url/metrics" | awk -v threads="$threads" '
  /^tessaly_request_duration_seconds_sum\{route="metrics"\}/ {sum = $2}
  /^tessaly_request_duration_seconds_count\{route="metrics"\}/ {count = $2}
  END {
    mean = sum / count
    printf "server time per scrape: %.0f us (mean of %d); ten a second take %.2f %% of %d threads\n",
      mean * 1e6, count, 100 * 10 * mean / threads, threads
  }'
