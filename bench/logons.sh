#!/usr/bin/env bash
# Logons per second, and the public pages' requests per second alone and while 8 connections
# loop on logons, measured side by side in one run. Half the logon connections send the right
# password (never shut out), half a wrong one, each connection from its own loopback address
# (127.0.0.2 to 127.0.0.9). The public pages should keep at least 80 % of their rate.
# Usage: bench/logons.sh [seconds per measurement, default 5]
# Needs: build/tessaly and build/bench/logon_load (cmake --build build), wrk, curl.
set -euo pipefail
cd "$(dirname "$0")/.."
load=${LOGON_LOAD:-build/bench/logon_load}
source bench/lib.sh

"$bin" init --root "$work/site" --user admin --password right >/dev/null
for i in $(seq 100); do
  printf "INSERT INTO MESSAGE (TITLE, CONTENT) VALUES ('日志&nbsp;%d', '内容 %d');\n" "$i" "$i"
done | sqlite3 "$work/site/log/logs.mdb"
start_server "$work/site"
port=${url##*:}
cookie=$(session_of "$url/log/board?action=list")
logon_mix=()
for i in $(seq 2 9); do
  if ((i % 2)); then logon_mix+=("127.0.0.$i:wrong"); else logon_mix+=("127.0.0.$i:right"); fi
done

logons_per_second() {  # SOURCE:PASSWORD... -> right logons per second
  "$load" "$port" "$secs" "$@" | awk '{ printf "%.1f", $4 / $12 }'
}

declare -A results
for ((r = 0; r < rounds; r++)); do
  results[logon1]+="$(logons_per_second 127.0.0.1:right) "
  results[logon8]+="$(logons_per_second 127.0.0.1:right 127.0.0.1:right 127.0.0.1:right \
    127.0.0.1:right 127.0.0.1:right 127.0.0.1:right 127.0.0.1:right 127.0.0.1:right) "
  results[hot]+="$(rps "$url/log/board?action=hotnews") "
  results[list]+="$(rps "$url/log/board?action=list" "$cookie") "
  # The same two pages while the logon mix loops beside them.
  "$load" "$port" $((2 * secs + 2)) "${logon_mix[@]}" >"$work/mix-$r" &
  mix=$!
  sleep 1
  results[hot_loaded]+="$(rps "$url/log/board?action=hotnews") "
  results[list_loaded]+="$(rps "$url/log/board?action=list" "$cookie") "
  wait "$mix"
done
for n in logon1 logon8 hot list hot_loaded list_loaded; do declare "$n=$(median "${results[$n]}")"; done

echo "tessaly --threads $threads; wrk: 1 thread, $connections connections, ${secs}s each;" \
  "median of $rounds rounds, measured round-robin"
printf '%-52s %10s\n' "logons/s, right password, 1 connection" "$logon1"
printf '%-52s %10s\n' "logons/s, right password, 8 connections" "$logon8"
printf '%-52s %10s %10s %8s\n' "requests/s" "alone" "logons" "kept"
printf '%-52s %10s %10s %8s\n' "hot news, 100 entries" "$hot" "$hot_loaded" "$(ratio "$hot_loaded" "$hot")"
printf '%-52s %10s %10s %8s\n' "list page 1, 100 entries" "$list" "$list_loaded" "$(ratio "$list_loaded" "$list")"
echo "logon mix beside the pages (4 right, 4 wrong from 127.0.0.2-9), last round:"
sed 's/^/  /' "$work/mix-$((rounds - 1))"
