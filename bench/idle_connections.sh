#!/usr/bin/env bash
# Idle sockets against the server's connection limits: 5,000 sockets left idle (every second
# one holding half a request head), first from one address (127.0.0.2), then spread over 50
# addresses (127.0.1.1 to 127.0.1.50, each within its share, together five times the cap).
# Each time: how long a new visitor from 127.0.0.3 waits for the hot news block (median and
# slowest of VISITORS), and the hot news rate (wrk from 127.0.0.1), beside both without the sockets.
# The sockets are measured within the server's read time-out (30 s), which would close them.
# Usage: bench/idle_connections.sh [seconds per measurement, default 5]
# Env: THREADS (2), CONNECTIONS (32), ROUNDS (3), IDLE (5000), VISITORS (5), TESSALY (binary).
# Needs: build/tessaly, wrk, curl, python3, sqlite3.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
idle=${IDLE:-5000}
visitors=${VISITORS:-5}
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
if (($(ulimit -n) < idle + 2000)); then
  echo "needs $((idle + 2000)) open files (ulimit -n is $(ulimit -n))" >&2
  exit 1
fi

site=$work/site
"$bin" init --root "$site" --user admin --password bench >/dev/null
for i in $(seq 100); do
  printf "INSERT INTO MESSAGE (TITLE, CONTENT) VALUES ('日志&nbsp;%d', '内容 %d');\n" "$i" "$i"
done | sqlite3 "$site/log/logs.mdb"
start_server "$site"
port=${url##*:}
hot="$url/log/board?action=hotnews"

# The time in seconds that a new visitor from 127.0.0.3 waits for a whole answer, $visitors times:
# "MEDIAN SLOWEST"; a visitor not answered within 40 s counts as 40.
visitor_waits() {
  local times=() t
  for _ in $(seq "$visitors"); do
    t=$(curl -s -o /dev/null --interface 127.0.0.3 -m 40 -w '%{time_total}' "$hot") || t=40
    times+=("$t")
  done
  printf '%s %s\n' "$(median "${times[*]}")" "$(printf '%s\n' "${times[@]}" | sort -g | tail -1)"
}

# Opens the idle sockets from the addresses given and waits until they are made.
open_idle() {
  status=$work/idle-status-$RANDOM
  python3 bench/idle_sockets.py "$port" "$idle" "$status" "$@" &
  holder=$!
  pids+=("$holder")
  for _ in $(seq 600); do [[ -s $status ]] && break; sleep 0.1; done
  sleep 1  # the server takes up the last of them
}
close_idle() {
  held=$(awk '{print $4}' "$status")
  kill "$holder"
  wait "$holder" 2>/dev/null || true
  sleep 1
}

declare -A results
for ((r = 0; r < rounds; r++)); do results[plain]+="$(rps "$hot") "; done
plain_rate=$(median "${results[plain]}")
read -r plain_wait plain_slowest < <(visitor_waits)

open_idle 127.0.0.2
read -r one_wait one_slowest < <(visitor_waits)
one_rate=$(rps "$hot")
close_idle
one_held=$held

spread=()
for i in $(seq 50); do spread+=("127.0.1.$i"); done
open_idle "${spread[@]}"
read -r many_wait many_slowest < <(visitor_waits)
many_rate=$(rps "$hot")
close_idle
many_held=$held

echo "tessaly --threads $threads, default limits; wrk: 1 thread, $connections connections," \
  "${secs}s; without sockets the median of $rounds rounds"
printf '%-44s %12s %12s %12s %14s\n' "" "wait (s)" "slowest (s)" "hot news/s" "sockets held"
printf '%-44s %12s %12s %12s %14s\n' "no idle sockets" "$plain_wait" "$plain_slowest" \
  "$plain_rate" "-"
printf '%-44s %12s %12s %12s %14s\n' "$idle idle sockets from one address" "$one_wait" \
  "$one_slowest" "$one_rate" "$one_held"
printf '%-44s %12s %12s %12s %14s\n' "$idle idle sockets from 50 addresses" "$many_wait" \
  "$many_slowest" "$many_rate" "$many_held"
printf '%-44s %12s\n' "  hot news rate, one address / none" "$(ratio "$one_rate" "$plain_rate")"
printf '%-44s %12s\n' "  hot news rate, 50 addresses / none" "$(ratio "$many_rate" "$plain_rate")"
