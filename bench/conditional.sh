#!/usr/bin/env bash
# The cost of conditional requests and of the nginx recipe (deploy/nginx.conf), side by side
# in one run with wrk on loopback, at 1,000 entries:
#  1. the hot news block answered 200 against the same request with its ETag answered 304;
#  2. through deploy/nginx.conf (tessaly set to "max-age=0, s-maxage=1"), the block as nginx
#     keeps it against the same nginx serving the block's bytes as a static file;
#  3. how long after a commit the block through nginx shows it, with no load and under load.
# Each rate is the median of ROUNDS rounds; a round measures everything once, in turn.
# Usage: bench/conditional.sh [seconds per measurement, default 5]
# Env: THREADS (2), CONNECTIONS (32), ROUNDS (3), TESSALY (binary).
# Needs: build/tessaly, wrk, nginx, sqlite3, curl.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh

site=$work/site
make_site "$site" 1000 "'这是第 ' || i || ' 条日志的内容。'"
printf '[cache]\npublic_cache_control = "max-age=0, s-maxage=1"\n' >"$work/tessaly.toml"
start_server "$site" --config "$work/tessaly.toml"
page=$url/log/board
tag=$(curl -s -D - -o /dev/null "$page" | tr -d '\r' | awk 'tolower($1) == "etag:" {print $2}')
[[ $(curl -s -o /dev/null -w '%{http_code}' -H "If-None-Match: $tag" "$page") == 304 ]] ||
  { echo "no 304 for the block's own tag" >&2; exit 1; }

# deploy/nginx.conf as shipped, pointed at this site, this server and a cache of its own, with
# a worker per tessaly thread; the block's bytes are also a static file of the site.
curl -s "$page" >"$site/hotnews.html"
port=$((20000 + RANDOM % 20000))
mkdir -p "$work/nginx"
sed -e "s|127.0.0.1:8080|${url#http://}|" -e "s|listen 80;|listen 127.0.0.1:$port;|" \
    -e "s|/var/lib/tessaly/site|$site|" -e "s|/var/cache/nginx/tessaly|$work/nginx/cache|" \
    deploy/nginx.conf >"$work/nginx/site.conf"
# As root, the workers run as root too, so that they can read and write the work folder.
cat >"$work/nginx/nginx.conf" <<CONF
$( ((EUID == 0)) && echo "user root;")
worker_processes $threads;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  include /etc/nginx/mime.types;
  include $work/nginx/site.conf;
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
pids+=($!)
front=http://127.0.0.1:$port
for _ in $(seq 100); do curl -sf -o /dev/null "$front/hotnews.html" && break; sleep 0.05; done
cmp -s <(curl -s "$front/log/board") "$site/hotnews.html" ||
  { echo "nginx does not pass the block on unchanged" >&2; exit 1; }

names=(ok304 ok200 kept static)
declare -A results
for ((r = 1; r <= rounds; r++)); do
  for name in "${names[@]}"; do
    case $name in
      ok200) figure=$(rps "$page") ;;
      ok304) figure=$(rps "$page" "If-None-Match: $tag") ;;
      kept) figure=$(rps "$front/log/board") ;;
      static) figure=$(rps "$front/hotnews.html") ;;
    esac
    results[$name]="${results[$name]:-} $figure"
  done
done
for name in "${names[@]}"; do declare "m_$name=$(median "${results[$name]}")"; done

# Adds an entry and waits for it to show through nginx: the milliseconds it took.
commit_shows_after() {  # title
  sqlite3 "$site/log/logs.mdb" "INSERT INTO MESSAGE (TITLE, CONTENT, STIME)
    VALUES ('$1', 'c', strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'))"
  local start=$(date +%s%N)
  until curl -s "$front/log/board" | grep -q ">$1</a>"; do sleep 0.01; done
  echo $((($(date +%s%N) - start) / 1000000))
}
idle=$(commit_shows_after idle-commit)
wrk -t1 -c"$connections" -d"$((secs + 5))s" "$front/log/board" >/dev/null &
sleep 1
loaded=$(commit_shows_after loaded-commit)
wait $!

echo "conditional requests at 1,000 entries: $threads threads, $connections connections," \
  "${secs}s a figure, median of $rounds rounds (requests/s)"
printf '  hot news 200                  %10s\n' "$m_ok200"
printf '  hot news 304 (its own ETag)   %10s  (%s of the 200)\n' "$m_ok304" "$(ratio "$m_ok304" "$m_ok200")"
printf '  through nginx, kept block     %10s  (%s of the static file)\n' "$m_kept" "$(ratio "$m_kept" "$m_static")"
printf '  through nginx, static file    %10s\n' "$m_static"
printf '  a commit shows through nginx after %s ms (idle), %s ms (under load)\n' "$idle" "$loaded"
