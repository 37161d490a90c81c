# What the benchmark scripts share, sourced with the script's own arguments: the settings
# every script reads (each may be set first by the script, or by the environment), a work
# folder, servers started and stopped, and the arithmetic of the figures.
secs=${secs:-${1:-5}}                  # seconds per measurement: the script's first argument
bin=${bin:-${TESSALY:-build/tessaly}}
threads=${threads:-${THREADS:-2}}
connections=${connections:-${CONNECTIONS:-32}}
rounds=${rounds:-${ROUNDS:-3}}
# A work folder that goes, with every process started here, when the script exits.
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Makes a site in the folder $1 whose log holds $2 entries, a minute apart from 2020-01-01, each
# with the content that the SQL expression $3 of the entry's number i gives (default '内容').
make_site() {
  mkdir -p "$1"
  "$bin" init --root "$1" --user admin --password bench >/dev/null 2>&1
  sqlite3 "$1/log/logs.mdb" "
    WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $2)
    INSERT INTO MESSAGE (TITLE, CONTENT, STIME)
    SELECT '网站日志第&nbsp;' || i || '&nbsp;条', ${3:-'内容'},
           strftime('%Y-%m-%d %H:%M:%S', '2020-01-01', '+' || i || ' minutes')
    FROM n;"
}

# Serves the site $1 with $bin (further arguments are more serve flags), stopping at once on
# SIGTERM, and sets url to its address and server to its process id. Not for $(...): the server must be a child of the
# script, so that it is stopped at exit.
start_server() {
  local out=$work/url-$RANDOM
  "$bin" serve --root "$1" --listen 127.0.0.1:0 --threads "$threads" --drain-seconds 0 "${@:2}" \
    >"$out" 2>"$out.err" &
  server=$!
  pids+=($!)
  for _ in $(seq 100); do grep -q http "$out" && break; sleep 0.05; done
  url=$(grep -o 'http://[0-9.:]*' "$out")
}

rps() {  # url [header] [lua script] -> requests per second
  wrk -t1 -c"$connections" -d"${secs}s" ${2:+-H "$2"} ${3:+-s "$3"} "$1" |
    awk '/Requests\/sec/ {print $2}'
}

# The list stores the page in the visitor's session: measure a returning visitor, as a browser
# is, rather than a new session for every request.
session_of() {
  curl -s -D - -o /dev/null "$1" | tr -d '\r' | awk -F'[ ;]' 'tolower($1) == "set-cookie:" {print "Cookie: " $2}'
}

# Moves the list visitor of cookie header $2 on the page $1 forward to page $3 with the
# pager's "next", one request after the other on one connection.
walk_to() {
  curl -s -H "$2" "$1?action=list&move=next&step=[2-$3]" >/dev/null
}

max_of() { awk -v a="$1" -v b="$2" 'BEGIN { print (a > b ? a : b) }'; }
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f %%", 100 * a / b }'; }
