#!/usr/bin/env bash
# The public pages' speed goals, measured side by side in one run with wrk on loopback:
#  1. hot news at 100,000 entries against nginx serving the same bytes as a static file, with
#     as many workers as tessaly has threads;
#  2. list pages at 1,000,000 entries (the first, a middle one, the last) against page 1 at 100
#     entries, with the output cache and without it;
#  3. entry page, list page 1 and hot news at 1,000,000 entries against 100 entries;
#  4. hot news while a cookie-less crawler reads the list of the same server.
# Each figure is the median of ROUNDS rounds; a round measures everything once, in turn. A
# round whose nginx figure falls below 85 % of a plain nginx run on the same file (the machine
# was busy) is repeated, and said so.
# Usage: bench/pages.sh [seconds per measurement, default 5]
# Env: THREADS (2), CONNECTIONS (32), ROUNDS (3), CRAWLER_CONNECTIONS (2), TESSALY (binary).
# Needs: build/tessaly (scripts/test.sh --quick), wrk, nginx, sqlite3, curl.
set -euo pipefail
cd "$(dirname "$0")/.."
crawlers=${CRAWLER_CONNECTIONS:-2}
source bench/lib.sh

# A site whose database holds $1 entries of realistic size, newest last, built by one
# statement. The search index is left empty: no page measured here reads it, and indexing a
# million entries would hold the server's start for a minute.
sized_site() {
  make_site "$work/site-$1" "$1" "'这是第 ' || i || ' 条日志的内容。<br>' || printf('%.200c', 'x')"
  sqlite3 "$work/site-$1/log/logs.mdb" "DELETE FROM SEARCH_PENDING"
  echo "$work/site-$1"
}

echo "building sites of 100, 100,000 and 1,000,000 entries..." >&2
s100=$(sized_site 100)
s100k=$(sized_site 100000)
s1m=$(sized_site 1000000)
printf '[cache]\nmax_bytes = 0\n' >"$work/no-cache.toml"
start_server "$s100"
u100=$url/log/board
start_server "$s100k"
u100k=$url/log/board
start_server "$s1m"
u1m=$url/log/board
start_server "$s100" --config "$work/no-cache.toml"
nc100=$url/log/board
start_server "$s1m" --config "$work/no-cache.toml"
nc1m=$url/log/board

# nginx serves the hot news bytes of the 100,000-entry site as a file: once plainly (a worker
# per core, nothing else set), to know what nginx does on this machine now, and once at its
# best for one small file (a worker per tessaly thread, the file kept open: no open, stat and
# close for every request), measured in the rounds.
start_nginx() {  # name workers [more http settings] -> sets nginx_url
  local dir=$work/$1 port=$((20000 + RANDOM % 20000))
  mkdir -p "$dir/html"
  curl -s "$u100k?action=hotnews" >"$dir/html/hotnews.html"
  cat >"$dir/nginx.conf" <<CONF
worker_processes $2;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  ${3:-}
  server {
    listen 127.0.0.1:$port;
    root $dir/html;
    location / { default_type text/html; }
  }
}
CONF
  nginx -p "$dir" -c "$dir/nginx.conf" -g 'daemon off;' &
  pids+=($!)
  for _ in $(seq 100); do curl -sf -o /dev/null "http://127.0.0.1:$port/hotnews.html" && break; sleep 0.05; done
  nginx_url=http://127.0.0.1:$port/hotnews.html
}
declare -A results
start_nginx nginx-plain auto
results[plain_ngx]="$(rps "$nginx_url") $(rps "$nginx_url")"
plain_ngx=$(max_of ${results[plain_ngx]})
kill "${pids[-1]}"
start_nginx nginx "$threads" "open_file_cache max=16 inactive=600s; open_file_cache_valid 600s;"
ngx_url=$nginx_url

# Returning visitors of the lists, as a browser is: one session each. The middle page's
# visitors walk there first, one page at a time, as the pager lets them.
cookie_l100=$(session_of "$u100?action=list")
cookie_l1m=$(session_of "$u1m?action=list")
cookie_last=$(session_of "$u1m?action=list")
cookie_n100=$(session_of "$nc100?action=list")
cookie_n1m=$(session_of "$nc1m?action=list")
cookie_nlast=$(session_of "$nc1m?action=list")
middle=20000
echo "walking two visitors to page $middle of 40,000..." >&2
cookie_mid=$(session_of "$u1m?action=list")
walk_to "$u1m" "$cookie_mid" $middle
cookie_nmid=$(session_of "$nc1m?action=list")
walk_to "$nc1m" "$cookie_nmid" $middle

cat >"$work/alternate.lua" <<'LUA'
-- A returning visitor paging back and forth around its page: "next", then "previous".
local n = 0
request = function()
  n = n + 1
  return wrk.format(nil, n % 2 == 1 and "/log/board?action=list&move=next"
                              or "/log/board?action=list&move=previous")
end
LUA
cat >"$work/crawler.lua" <<'LUA'
-- A crawler that follows the list's links and keeps no cookie.
local paths = {"/log/board?action=list", "/log/board?action=list&move=next",
               "/log/board?action=list&move=last", "/log/board?action=list&move=previous"}
local n = 0
request = function()
  n = n % #paths + 1
  return wrk.format(nil, paths[n])
end
LUA

# Measured in this order, so that the figures of each comparison are taken next to each other.
names=(ngx h100k crawled crawler h100 h1m e100 e1m l100 l1m lmid llast n100 n1m nmid nlast)
measure() {  # name -> one figure
  case $1 in
    ngx) rps "$ngx_url" ;;
    h100) rps "$u100?action=hotnews" ;;
    h100k) rps "$u100k?action=hotnews" ;;
    h1m) rps "$u1m?action=hotnews" ;;
    e100) rps "$u100?action=show&id=50" ;;
    e1m) rps "$u1m?action=show&id=500000" ;;
    l100) rps "$u100?action=list" "$cookie_l100" ;;
    l1m) rps "$u1m?action=list&move=first" "$cookie_l1m" ;;
    lmid) rps "$u1m" "$cookie_mid" "$work/alternate.lua" ;;
    llast) rps "$u1m?action=list&move=last" "$cookie_last" ;;
    n100) rps "$nc100?action=list" "$cookie_n100" ;;
    n1m) rps "$nc1m?action=list&move=first" "$cookie_n1m" ;;
    nmid) rps "$nc1m" "$cookie_nmid" "$work/alternate.lua" ;;
    nlast) rps "$nc1m?action=list&move=last" "$cookie_nlast" ;;
    crawled)  # hot news while the crawler reads the same server's list; its rate goes to crawler
      wrk -t1 -c"$crawlers" -d"${secs}s" -s "$work/crawler.lua" "$u100k" >"$work/crawler.out" &
      local crawler=$!
      rps "$u100k?action=hotnews"
      wait "$crawler"
      awk '/Requests\/sec/ {print $2}' "$work/crawler.out" >"$work/crawler.rps"
      ;;
    crawler) cat "$work/crawler.rps" ;;
  esac
}

echo "wrk: 1 thread, $connections connections, ${secs}s each; tessaly --threads $threads;" \
  "nginx: $threads workers, open_file_cache; median of $rounds rounds, measured in turn"
echo "plain nginx run on the same file (worker_processes auto): $plain_ngx"
low_rounds=0
for ((r = 1; r <= rounds; r++)); do
  for attempt in 1 2 3; do
    declare -A round=()
    for n in "${names[@]}"; do round[$n]=$(measure "$n"); done
    if awk -v a="${round[ngx]}" -v b="$plain_ngx" 'BEGIN { exit !(a >= 0.85 * b) }'; then break; fi
    echo "warning: round $r: nginx gave ${round[ngx]}, below 85 % of its plain run" \
      "($plain_ngx): the machine was busy; $([[ $attempt -lt 3 ]] && echo repeating || echo keeping) the round" >&2
    [[ $attempt -eq 3 ]] && low_rounds=$((low_rounds + 1))
  done
  for n in "${names[@]}"; do results[$n]+="${round[$n]} "; done
done
for n in "${names[@]}"; do declare "$n=$(median "${results[$n]}")"; done

row() {  # label name: the median, then each round's figure
  printf '%-56s %10s   (%s)\n' "$1" "${!2}" "$(echo ${results[$2]} | sed 's/\.[0-9]*//g')"
}
goal() {  # label value baseline minimum-percent
  local percent
  percent=$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.1f", 100 * a / b }')
  printf '  %-54s %8s %%  (goal >= %s %%: %s)\n' "$1" "$percent" "$4" \
    "$(awk -v p="$percent" -v m="$4" 'BEGIN { print (p >= m ? "met" : "NOT met") }')"
}
echo
echo "1. hot news against nginx, same bytes"
row "nginx, $threads workers, open_file_cache" ngx
row "hot news, 100,000 entries" h100k
goal "hot news (100,000 entries) / nginx" "$h100k" "$ngx" 50
echo "2. list pages at 1,000,000 entries against page 1 at 100 entries"
row "list page 1, 100 entries" l100
row "list page 1, 1,000,000 entries" l1m
row "list page $middle (next/previous), 1,000,000 entries" lmid
row "list move=last, 1,000,000 entries" llast
goal "page 1 / page 1 at 100" "$l1m" "$l100" 50
goal "middle page / page 1 at 100" "$lmid" "$l100" 50
goal "last page / page 1 at 100" "$llast" "$l100" 50
echo "   the same without the output cache ([cache] max_bytes = 0)"
row "list page 1, 100 entries" n100
row "list page 1, 1,000,000 entries" n1m
row "list page $middle (next/previous), 1,000,000 entries" nmid
row "list move=last, 1,000,000 entries" nlast
goal "page 1 / page 1 at 100" "$n1m" "$n100" 50
goal "middle page / page 1 at 100" "$nmid" "$n100" 50
goal "last page / page 1 at 100" "$nlast" "$n100" 50
echo "3. 1,000,000 entries against 100 entries"
row "entry page, 100 entries" e100
row "entry page, 1,000,000 entries" e1m
row "hot news, 100 entries" h100
row "hot news, 1,000,000 entries" h1m
goal "entry page" "$e1m" "$e100" 80
goal "list page 1" "$l1m" "$l100" 80
goal "hot news" "$h1m" "$h100" 80
echo "4. hot news (100,000 entries) under a cookie-less crawler on the same server's list"
row "hot news alone" h100k
row "hot news beside the crawler" crawled
row "the crawler ($crawlers connections), cookie-less list pages" crawler
goal "beside the crawler / alone" "$crawled" "$h100k" 70
echo
row "nginx, plain run (worker_processes auto), best of two" plain_ngx
row "nginx in the rounds ($threads workers, open_file_cache)" ngx
if ((low_rounds > 0)); then
  echo "WARNING: $low_rounds round(s) kept an nginx figure below 85 % of the plain run;" \
    "the ratios against nginx of this run are not to be trusted"
fi
