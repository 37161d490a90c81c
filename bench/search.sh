#!/usr/bin/env bash
# Searching a log of 1,000,000 entries as Chinese readers search it, every request reading the
# index (the output cache off), in one run with wrk on loopback:
#  1. building the index of an existing log (what opening an older database does), its size
#     against the text's;
#  2. a two-character word that 100 entries hold (all 100 walked across its pages), a word that
#     8 % hold (first and last page), one character that 27 % hold, two words one of them rare;
#  3. the hot news block alone, and beside 16 connections of random two-character queries
#     (each one its own search, with other items in the query), with the default one thread
#     for searches.
# Texts are drawn from 200 two-character words; "维护" is in 8 % of the entries, "图" in 27 %,
# "麒麟" in every 10,000th.
# With ENGINE=postgres the same on PostgreSQL: the site's copy made by tessaly migrate (which
# indexes it there), on a throwaway cluster (scripts/postgres.sh) unless TESSALY_TEST_POSTGRES
# names one.
# Usage: bench/search.sh [seconds per measurement, default 5]
# Env: ENTRIES (1000000), THREADS (2), ENGINE (sqlite), TESSALY (binary).
# Needs: build/tessaly, wrk, sqlite3, curl; for PostgreSQL psql and Debian's postgresql.
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${ENTRIES:-1000000}
connections=8
engine=${ENGINE:-sqlite}
source bench/lib.sh
served=(--database "")
if [[ $engine == postgres ]]; then
  if [[ -z ${TESSALY_TEST_POSTGRES:-} ]]; then
    eval "$(scripts/postgres.sh start)"
    trap 'cleanup; scripts/postgres.sh stop "$TESSALY_PG_DIR"' EXIT
  fi
  pg_db=tessaly_search_bench_$$
  psql -q "$TESSALY_TEST_POSTGRES" -c "CREATE DATABASE $pg_db"
  pg_url=$(sed -E "s#(://[^/?]*)/[^?]*#\1/$pg_db#" <<<"$TESSALY_TEST_POSTGRES")
  trap 'cleanup; psql -q "$TESSALY_TEST_POSTGRES" -c "DROP DATABASE IF EXISTS '"$pg_db"' WITH (FORCE)"; [[ -n ${TESSALY_PG_DIR:-} ]] && scripts/postgres.sh stop "$TESSALY_PG_DIR"' EXIT
  served=(--database "$pg_url")
fi

site=$work/site
mkdir -p "$site"
"$bin" init --root "$site" --user admin --password bench >/dev/null
db=$site/log/logs.mdb
echo "building a site of $entries entries in one statement..." >&2
# w(k): the two-character word k (0..199) of the pool, a first character of 20 and a second
# of 10 (none of them in 维护, 图 or 麒麟).
w() { echo "substr('天地人和风云山水日月星光春夏秋冬东南西北', 1 + ($1) % 200 / 10, 1) || substr('一二三四五六七八九十', 1 + ($1) % 10, 1)"; }
sqlite3 "$db" "
  WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $entries)
  INSERT INTO MESSAGE (TITLE, CONTENT, STIME)
  SELECT '日志第&nbsp;' || i || '&nbsp;条' || CASE WHEN i % 100 < 27 THEN '图' ELSE '' END,
         '<b>' || CASE WHEN i % 25 < 2 THEN '维护' ELSE $(w 'i * 7') END || '</b>' ||
         $(w 'i * 13 + 5') || $(w 'i * 31 + 11') || '&nbsp;' || $(w 'i * 17 + 3') ||
         $(w 'i * 29 + 7') || CASE WHEN i % 10000 = 0 THEN '麒麟' ELSE '' END || '。<br>' ||
         $(w 'i * 37 + 1') || $(w 'i * 41 + 2') || $(w 'i * 43 + 9'),
         strftime('%Y-%m-%d %H:%M:%S', '2020-01-01', '+' || i || ' minutes')
  FROM n;"
bytes() { sqlite3 "$db" "SELECT coalesce(sum(pgsize), 0) FROM dbstat WHERE $1"; }
echo "indexing (tessaly init, as opening an existing site does)..." >&2
start=$(date +%s.%N)
"$bin" init --root "$site" --user admin --password bench >/dev/null 2>&1
build=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {printf "%.1f", b - a}')
text=$(sqlite3 "$db" "SELECT sum(length(CAST(TITLE AS BLOB)) + length(CAST(CONTENT AS BLOB))) FROM MESSAGE")
table=$(bytes "name = 'MESSAGE'")
index=$(bytes "name LIKE 'SEARCH_TERMS%' OR name LIKE 'SEARCH_ENTRY%' OR name LIKE 'sqlite_autoindex_SEARCH_ENTRY%'")
stored=$(bytes "name = 'SEARCH_TERMS_content'")
if [[ $engine == postgres ]]; then
  echo "copying to PostgreSQL (tessaly migrate, which indexes the copy there)..." >&2
  start=$(date +%s.%N)
  "$bin" migrate --from "$site" --to "$pg_url" >/dev/null 2>"$work/migrate.log"
  migrated=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {printf "%.1f", b - a}')
  psql -q "$pg_url" -c "VACUUM ANALYZE"
  index=$(psql -tA "$pg_url" -c "SELECT pg_total_relation_size('search_terms')")
  stored=$(psql -tA "$pg_url" -c "SELECT sum(octet_length(TEXT)) FROM SEARCH_TERMS")
  table=$(psql -tA "$pg_url" -c "SELECT pg_total_relation_size('message')")
fi

printf '[cache]\nmax_bytes = 0\n[limits]\nmax_searches = %s\n' "$connections" >"$work/rates.toml"
printf '[cache]\nmax_bytes = 0\n' >"$work/bounded.toml"
start_server "$site" --config "$work/rates.toml" "${served[@]}"
rates=$url/log/board
start_server "$site" --config "$work/bounded.toml" "${served[@]}"
bounded=$url/log/board

enc() { python3 -c 'import sys, urllib.parse; print(urllib.parse.quote_plus(sys.argv[1]))' "$1"; }
rare=$(enc 麒麟)
common=$(enc 维护)
one=$(enc 图)
two=$(enc '维护 麒麟')

# url -> "requests/s answers-other-than-200"
rate() {
  wrk -t1 -c"$connections" -d"${secs}s" "$1" |
    awk '/Requests\/sec/ {r = $2} /Non-2xx/ {n = $NF} END {print r, n + 0}'
}
# The entries a search shows on all its pages, walked with the pager's "next" in one session.
shown() {
  local first pages cookie n=0
  first=$(curl -s -D "$work/h" "$1")
  cookie=$(tr -d '\r' <"$work/h" | awk -F'[ ;]' 'tolower($1) == "set-cookie:" {print "Cookie: " $2}')
  pages=$(grep -o '/[0-9]*</div>' <<<"$first" | tr -dc '0-9')
  n=$(grep -o 'javascript:openwin(' <<<"$first" | wc -l)
  for ((p = 2; p <= ${pages:-1}; p++)); do
    n=$((n + $(curl -s -H "$cookie" "$1&move=next" | grep -o 'javascript:openwin(' | wc -l)))
  done
  echo "$n"
}
pages_of() { local n; n=$(curl -s "$1" | grep -o '/[0-9]*</div>' | tr -dc '0-9'); echo "${n:-1}"; }

# Random two-character words of the pool, each request with an item of its own.
lua=$work/random.lua
{
  echo 'local words = {'
  for a in 天 地 人 和 风 云 山 水 日 月 星 光 春 夏 秋 冬 东 南 西 北; do
    for b in 一 二 三 四 五 六 七 八 九 十; do printf '"%s",' "$(enc "$a$b")"; done
  done
  echo '}'
  echo 'request = function()'
  echo '  local q = words[math.random(#words)]'
  echo '  return wrk.format(nil, "/log/board?action=search&q=" .. q .. "&x=" .. math.random(1e9))'
  echo 'end'
} >"$lua"

row() { printf '%-64s %16s %s\n' "$1" "$2" "${3:-}"; }
goal() { awk -v a="$1" -v b="$2" 'BEGIN { print (a >= b ? "(goal >= " b ": met)" : "(goal >= " b ": NOT met)") }'; }

echo "$engine; tessaly --threads $threads, cache off; wrk -t1 -c$connections, ${secs}s each, one run"
row "entries" "$entries"
row "index built from scratch in the file (tessaly init), s" "$build" "(goal <= 60)"
[[ $engine == postgres ]] && row "copied to PostgreSQL and indexed there (tessaly migrate), s" "$migrated"
row "text of the entries (TITLE + CONTENT as stored), bytes" "$text"
row "MESSAGE table, bytes" "$table"
row "search index (terms, keys, kept text), bytes" "$index" "($(ratio "$index" "$text") of the text)"
row "  of which the visible text it keeps, bytes" "$stored"

r=$(rate "$rates?action=search&q=$rare")
row "\"麒麟\" ($(pages_of "$rates?action=search&q=$rare") pages), req/s (non-200)" "$r" "$(goal "${r% *}" 1000)"
row "\"麒麟\", entries shown across its pages" "$(shown "$rates?action=search&q=$rare")" "(of 100)"
r=$(rate "$rates?action=search&q=$common")
row "\"维护\" (8 %, $(pages_of "$rates?action=search&q=$common") pages), first page, req/s" "$r" "$(goal "${r% *}" 200)"
r=$(rate "$rates?action=search&q=$common&move=last")
row "\"维护\", last page, req/s" "$r" "$(goal "${r% *}" 200)"
r=$(rate "$rates?action=search&q=$one")
row "\"图\" (27 %, $(pages_of "$rates?action=search&q=$one") pages), req/s" "$r" "$(goal "${r% *}" 100)"
r=$(rate "$rates?action=search&q=$two")
row "\"维护 麒麟\" ($(pages_of "$rates?action=search&q=$two") pages), req/s" "$r" "$(goal "${r% *}" 1000)"
row "\"维护 麒麟\", entries shown across its pages" "$(shown "$rates?action=search&q=$two")" "(of 100)"

alone=$(connections=8 rate "$bounded")
wrk -t1 -c16 -d"$((secs + 2))s" -s "$lua" "$bounded" >"$work/searches.txt" &
load=$!
sleep 1
beside=$(connections=8 rate "$bounded")
wait "$load"
row "hot news alone, req/s" "${alone% *}"
row "hot news beside 16 connections of random searches, req/s" "${beside% *}" \
  "($(ratio "${beside% *}" "${alone% *}") of alone; goal >= 70 %)"
row "  the searches meanwhile, answers/s" "$(awk '/Requests\/sec/ {print $2}' "$work/searches.txt")"
row "  of which 503 (waited a second for the search thread)" \
  "$(awk '/Non-2xx/ {print $NF}' "$work/searches.txt" | grep . || echo 0)"
