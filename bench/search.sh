#!/usr/bin/env bash
# Searching a log of 1,000,000 entries: a three-character query and a two-word query in
# requests per second, and the time of a one-character query, each with the public pages'
# cache (a query asked again, as popular queries are) and without it (every request reads the
# index), side by side in one run.
# Usage: bench/search.sh [seconds per measurement, default 5]
# Env: ENTRIES (1000000), THREADS (2), CONNECTIONS (32), ROUNDS (3), TESSALY (binary).
# Needs: build/tessaly, wrk, sqlite3, curl.
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${ENTRIES:-1000000}
source bench/lib.sh

# Titles numbered, texts made of two of sixteen two-character words and filler, so that a
# query matches from a few thousand entries to all of them.
site=$work/site
mkdir -p "$site"
"$bin" init --root "$site" --user admin --password bench >/dev/null
echo "building a site of $entries entries in one statement..." >&2
sqlite3 "$site/log/logs.mdb" "
  WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $entries),
  w(words) AS (SELECT '系统升级服务维护新版发布活动通知安全更新数据备份用户反馈功能改进')
  INSERT INTO MESSAGE (TITLE, CONTENT, STIME)
  SELECT '网站日志第&nbsp;' || i || '&nbsp;条',
         '本次<b>' || substr(words, 1 + (i % 16) * 2, 2) || '</b>与' ||
         substr(words, 1 + (i * 7 % 16) * 2, 2) || '的说明。<br>' || printf('%.200c', 'x'),
         strftime('%Y-%m-%d %H:%M:%S', '2020-01-01', '+' || i || ' minutes')
  FROM n, w;"
echo "indexing (tessaly init, as for an existing site)..." >&2
start=$(date +%s.%N)
"$bin" init --root "$site" --user admin --password bench >/dev/null 2>&1
echo "indexed in $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {printf "%.0f", b - a}') s" >&2
printf '[cache]\nmax_bytes = 0\n' >"$work/no-cache.toml"
start_server "$site"
cached=$url/log/board
start_server "$site" --config "$work/no-cache.toml"
uncached=$url/log/board

# Percent-encoded queries: "753" (a few thousand matches), "数据 7531" (a short word checked in
# the candidates of a longer one), and "据" (a one-character word: a scan of the entries with
# the newest 100,000 ids).
three='753'
three_text='753'
two='%E6%95%B0%E6%8D%AE+7531'
two_text='数据 7531'
one='%E6%8D%AE'
one_text='据'

pages() {  # url -> the pages of results (the pager's count; 1 when there is no pager)
  local n
  n=$(curl -s "$1" | grep -o '/[0-9]*</div>' | tr -dc '0-9')
  echo "${n:-1}"
}
seconds() { curl -s -o /dev/null -w '%{time_total}' "$1"; }
# The time of the second of two asks on one connection (one server thread, whose cache the
# first filled).
again() { curl -s -o /dev/null -o /dev/null -w '%{time_total}\n' "$1" "$1" | tail -1; }

echo "wrk: 1 thread, $connections connections, ${secs}s each; tessaly --threads $threads;" \
  "median of $rounds rounds, measured in turn"
declare -A results
for ((r = 0; r < rounds; r++)); do
  for q in three two; do
    results[$q-cached]+="$(rps "$cached?action=search&q=${!q}") "
    results[$q-uncached]+="$(rps "$uncached?action=search&q=${!q}") "
  done
  results[one-uncached]+="$(seconds "$uncached?action=search&q=$one") "
  results[one-cached]+="$(again "$cached?action=search&q=$one") "
done
row() { printf '%-52s %12s\n' "$1" "$2"; }
for q in three two; do
  name=${q}_text
  row "\"${!name}\" ($(pages "$uncached?action=search&q=${!q}") pages), cached, req/s" \
    "$(median "${results[$q-cached]}")"
  row "\"${!name}\", every request reads the index, req/s" "$(median "${results[$q-uncached]}")"
done
row "\"$one_text\" ($(pages "$uncached?action=search&q=$one") pages), every request reads, s" \
  "$(median "${results[one-uncached]}")"
row "\"$one_text\", asked again (cached), s" "$(median "${results[one-cached]}")"
