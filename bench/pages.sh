#!/usr/bin/env bash
# Requests per second of the public pages at different table sizes, measured side by side in
# one run with wrk on loopback, and the hot news block against nginx serving the same bytes as
# a static file. Usage: bench/pages.sh [seconds per measurement, default 5]
# BASELINE=path/to/other/tessaly also measures that binary on the same sites in the same rounds
# and prints the two side by side (for a change's before and after).
# Needs: build/tessaly (scripts/test.sh --quick, or cmake --build build), wrk, nginx, sqlite3.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-5}
bin=${TESSALY:-build/tessaly}
threads=${THREADS:-2}
connections=${CONNECTIONS:-32}
source bench/lib.sh

# A site whose database holds $1 entries of realistic size, newest last.
make_site() {
  local dir=$work/site-$1
  mkdir -p "$dir"
  "$bin" init --root "$dir" --user admin --password bench >/dev/null
  sqlite3 "$dir/log/logs.mdb" "
    WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $1)
    INSERT INTO MESSAGE (TITLE, CONTENT, STIME)
    SELECT '网站日志第&nbsp;' || i || '&nbsp;条', '这是第 ' || i || ' 条日志的内容。<br>' ||
           printf('%.200c', 'x'),
           strftime('%Y-%m-%d %H:%M:%S', '2020-01-01', '+' || i || ' minutes')
    FROM n;"
  echo "$dir"
}

echo "building sites..." >&2
s10=$(make_site 10)
s100=$(make_site 100)
s10k=$(make_site 10000)
s100k=$(make_site 100000)
start_server "$s10"
u10=$url
start_server "$s100"
u100=$url
start_server "$s10k"
u10k=$url
start_server "$s100k"
u100k=$url

# nginx serving the hot news bytes of the 100-entry site as a static file.
mkdir -p "$work/nginx/html"
curl -s "$u100/log/board?action=hotnews" >"$work/nginx/html/hotnews.html"
nginx_port=$((20000 + RANDOM % 20000))
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes $threads;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/nginx/html;
    location / { default_type text/html; }
  }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
pids+=($!)
sleep 0.5

row() { printf '%-44s %10s\n' "$1" "$2"; }

rounds=${ROUNDS:-3}
echo "wrk: 1 thread, $connections connections, ${secs}s each; tessaly --threads $threads;" \
  "median of $rounds rounds, measured round-robin"
declare -A results labels
names=(e10 e10k h100 h100k l100 l100k ngx)
declare -A urls=(
  [e10]="$u10/log/board?action=show&id=5" [e10k]="$u10k/log/board?action=show&id=5000"
  [h100]="$u100/log/board?action=hotnews" [h100k]="$u100k/log/board?action=hotnews"
  [l100]="$u100/log/board?action=list" [l100k]="$u100k/log/board?action=list"
  [ngx]="http://127.0.0.1:$nginx_port/hotnews.html")
declare -A headers=(
  [l100]="$(session_of "$u100/log/board?action=list")"
  [l100k]="$(session_of "$u100k/log/board?action=list")")
labels=([e10]="entry page, 10 entries" [e10k]="entry page, 10,000 entries"
  [h100]="hot news, 100 entries" [h100k]="hot news, 100,000 entries"
  [l100]="list page 1, 100 entries" [l100k]="list page 1, 100,000 entries")
if [[ -n ${BASELINE:-} ]]; then
  declare -A base_urls
  this_bin=$bin
  bin=$BASELINE
  for n in e10 h100 e10k h100k; do
    case $n in e10) site=$s10 ;; h100) site=$s100 ;; e10k) site=$s10k ;; h100k) site=$s100k ;; esac
    start_server "$site"
    base_urls[$n]=$url
  done
  bin=$this_bin
  base_urls[l100]=${base_urls[h100]}
  base_urls[l100k]=${base_urls[h100k]}
  for n in e10 e10k h100 h100k l100 l100k; do
    names+=("base_$n")
    urls[base_$n]="${base_urls[$n]}/${urls[$n]#http://*/}"
    if [[ -n ${headers[$n]:-} ]]; then headers[base_$n]="$(session_of "${urls[base_$n]}")"; fi
  done
fi
for ((r = 0; r < rounds; r++)); do
  for n in "${names[@]}"; do results[$n]+="$(rps "${urls[$n]}" "${headers[$n]:-}") "; done
done
declare -A median_of
for n in "${names[@]}"; do
  median_of[$n]=$(median "${results[$n]}")
  declare "$n=${median_of[$n]}"
done

row "entry page, 10 entries" "$e10"
row "entry page, 10,000 entries" "$e10k"
row "  ratio 10,000 / 10" "$(ratio "$e10k" "$e10")"
row "hot news, 100 entries" "$h100"
row "hot news, 100,000 entries" "$h100k"
row "  ratio 100,000 / 100" "$(ratio "$h100k" "$h100")"
row "list page 1, 100 entries" "$l100"
row "list page 1, 100,000 entries" "$l100k"
row "  ratio 100,000 / 100" "$(ratio "$l100k" "$l100")"
row "nginx, same hot news bytes as a static file" "$ngx"
row "  hot news (100,000 entries) / nginx" "$(ratio "$h100k" "$ngx")"

if [[ -n ${BASELINE:-} ]]; then
  echo
  printf '%-44s %10s %10s %8s\n' "side by side" "this" "baseline" "ratio"
  for n in e10 e10k h100 h100k l100 l100k; do
    printf '%-44s %10s %10s %8s\n' "${labels[$n]}" "${median_of[$n]}" "${median_of[base_$n]}" \
      "$(ratio "${median_of[$n]}" "${median_of[base_$n]}")"
  done
fi
