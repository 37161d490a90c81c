#!/usr/bin/env bash
# The list page under a flood of visitors without cookies (crawlers, feed checkers): each one
# gets a new session, so the session store fills up and must keep making room. Runs wrk for
# SECONDS (default 30) in slices of 3 s against a server whose store holds at most CAP sessions
# (default 1000), and prints each slice's rate beside the server's resident memory, then the
# rate of the last third of the run as a share of the first third's (medians of their slices,
# which a machine shared with other work needs). A store that slows as it fills shows up here.
# Usage: bench/sessions.sh [seconds]   BASELINE=other/tessaly also runs that binary after.
# Needs: build/tessaly, wrk, sqlite3.
set -euo pipefail
cd "$(dirname "$0")/.."
total=${1:-30}
secs=3
cap=${CAP:-1000}
source bench/lib.sh

flood() {
  local site=$work/site-$RANDOM
  mkdir -p "$site"
  "$bin" init --root "$site" --user admin --password bench >/dev/null
  sqlite3 "$site/log/logs.mdb" "INSERT INTO MESSAGE (TITLE, CONTENT) VALUES ('一条日志', '内容');"
  printf '[limits]\nmax_sessions = %d\n' "$cap" >"$work/tessaly.toml"
  start_server "$site" --config "$work/tessaly.toml"

  echo "$bin: list page without cookies, max_sessions = $cap, wrk -t1 -c$connections"
  printf '%8s %12s %10s\n' "seconds" "requests/s" "RSS MiB"
  local rates=() t rate rss
  for ((t = secs; t <= total; t += secs)); do
    rate=$(rps "$url/log/board?action=list")
    rates+=("$rate")
    rss=$(awk '/VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$server/status")
    printf '%8d %12s %10s\n' "$t" "$rate" "$rss"
  done
  local third=$(((${#rates[@]} + 2) / 3)) first last
  first=$(median "${rates[*]:0:third}")
  last=$(median "${rates[*]: -third}")
  echo "last $third slices / first $third slices (medians $last / $first): $(ratio "$last" "$first")"
  echo
  kill "$server"
  wait "$server" 2>/dev/null || true
}

flood
if [[ -n ${BASELINE:-} ]]; then
  bin=$BASELINE
  flood
fi
