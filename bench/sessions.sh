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
secs=${1:-30}
slice=3
cap=${CAP:-1000}
threads=${THREADS:-2}
connections=${CONNECTIONS:-32}
work=$(mktemp -d)
server=
cleanup() {
  [[ -n $server ]] && kill "$server" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

flood() {  # binary
  local bin=$1 site=$work/site-$RANDOM
  mkdir -p "$site"
  "$bin" init --root "$site" --user admin --password bench >/dev/null
  sqlite3 "$site/log/logs.mdb" "INSERT INTO MESSAGE (TITLE, CONTENT) VALUES ('一条日志', '内容');"
  printf '[limits]\nmax_sessions = %d\n' "$cap" >"$work/tessaly.toml"
  "$bin" serve --root "$site" --config "$work/tessaly.toml" --listen 127.0.0.1:0 \
    --threads "$threads" >"$work/url" 2>"$work/err" &
  server=$!
  for _ in $(seq 100); do grep -q http "$work/url" && break; sleep 0.05; done
  local url
  url=$(grep -o 'http://[0-9.:]*' "$work/url")/log/board?action=list

  echo "$bin: list page without cookies, max_sessions = $cap, wrk -t1 -c$connections"
  printf '%8s %12s %10s\n' "seconds" "requests/s" "RSS MiB"
  local rates=() t rate rss
  for ((t = slice; t <= secs; t += slice)); do
    rate=$(wrk -t1 -c"$connections" -d"${slice}s" "$url" | awk '/Requests\/sec/ {print $2}')
    rates+=("$rate")
    rss=$(awk '/VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$server/status")
    printf '%8d %12s %10s\n' "$t" "$rate" "$rss"
  done
  local third=$(((${#rates[@]} + 2) / 3))
  local first last
  first=$(median "${rates[@]:0:third}")
  last=$(median "${rates[@]: -third}")
  awk -v a="$last" -v b="$first" -v n="$third" 'BEGIN {
    printf "last %d slices / first %d slices (medians %.0f / %.0f): %.1f %%\n\n", n, n, a, b, 100 * a / b }'
  kill "$server"
  wait "$server" 2>/dev/null || true
  server=
}

flood "${TESSALY:-build/tessaly}"
if [[ -n ${BASELINE:-} ]]; then flood "$BASELINE"; fi
