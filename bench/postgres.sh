#!/usr/bin/env bash
# The public pages on PostgreSQL beside the same site on its SQLite file, in one run with wrk on
# loopback: hot news, list page 1, a deep list page and an entry page of a 100,000-entry site,
# with the output cache (the goal: PostgreSQL within 10 % of SQLite) and without it
# ([cache] max_bytes = 0), side by side. The database is the file's copy made by tessaly
# migrate, on a throwaway cluster (scripts/postgres.sh) unless TESSALY_TEST_POSTGRES names one.
# Each figure is the median of ROUNDS rounds.
# Usage: bench/postgres.sh [seconds per measurement, default 5]
# Env: THREADS (2), CONNECTIONS (32), ROUNDS (3), ENTRIES (100000), TESSALY (binary).
# Needs: build/tessaly, wrk, sqlite3, psql, curl, Debian's postgresql.
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${ENTRIES:-100000}
source bench/lib.sh

if [[ -z ${TESSALY_TEST_POSTGRES:-} ]]; then
  eval "$(scripts/postgres.sh start)"
  trap 'cleanup; scripts/postgres.sh stop "$TESSALY_PG_DIR"' EXIT
fi
db=tessaly_bench_$$
psql -q "$TESSALY_TEST_POSTGRES" -c "CREATE DATABASE $db"
pg_url=$(sed -E "s#(://[^/?]*)/[^?]*#\1/$db#" <<<"$TESSALY_TEST_POSTGRES")
trap 'cleanup; psql -q "$TESSALY_TEST_POSTGRES" -c "DROP DATABASE IF EXISTS '"$db"' WITH (FORCE)"; [[ -n ${TESSALY_PG_DIR:-} ]] && scripts/postgres.sh stop "$TESSALY_PG_DIR"' EXIT

echo "building a site of $entries entries and its copy on PostgreSQL..." >&2
site=$work/site
make_site "$site" "$entries" "'这是第 ' || i || ' 条日志的内容。<br>' || printf('%.200c', 'x')"
"$bin" migrate --from "$site" --to "$pg_url" >/dev/null 2>"$work/migrate.log"
psql -q "$pg_url" -c "VACUUM ANALYZE"

printf '[cache]\nmax_bytes = 0\n' >"$work/no-cache.toml"
start_server "$site" --database ""
sqlite_cached=$url/log/board
start_server "$site" --database "$pg_url"
pg_cached=$url/log/board
start_server "$site" --database "" --config "$work/no-cache.toml"
sqlite_plain=$url/log/board
start_server "$site" --database "$pg_url" --config "$work/no-cache.toml"
pg_plain=$url/log/board
servers=(sqlite_cached pg_cached sqlite_plain pg_plain)

# The deep list page: a returning visitor's session moved to page 40 on each server.
declare -A cookie
for s in "${servers[@]}"; do
  cookie[$s]=$(session_of "${!s}?action=list")
  walk_to "${!s}" "${cookie[$s]}" 40
done

pages=(hotnews list deep show)
declare -A target=([hotnews]="" [list]="?action=list" [deep]="?action=list"
  [show]="?action=show&id=$((entries / 2))")
declare -A figures
for round in $(seq "$rounds"); do
  echo "round $round of $rounds..." >&2
  for p in "${pages[@]}"; do
    for s in "${servers[@]}"; do
      header=""
      [[ $p == deep ]] && header=${cookie[$s]}
      figures[$p.$s]+=" $(rps "${!s}${target[$p]}" "$header")"
    done
  done
done

row() { printf '%-10s %12s %12s %8s   %12s %12s %8s\n' "$@"; }
echo
echo "requests/s, median of $rounds rounds"
row "" "SQLite" "PostgreSQL" "PG/SQLite" "SQLite" "PostgreSQL" "PG/SQLite"
row "" "cache" "cache" "" "no cache" "no cache" ""
for p in "${pages[@]}"; do
  a=$(median "${figures[$p.sqlite_cached]}")
  b=$(median "${figures[$p.pg_cached]}")
  c=$(median "${figures[$p.sqlite_plain]}")
  d=$(median "${figures[$p.pg_plain]}")
  row "$p" "$a" "$b" "$(ratio "$b" "$a")" "$c" "$d" "$(ratio "$d" "$c")"
done
echo "(deep: list page 40 of a returning visitor; show: entry $((entries / 2)); $threads threads," \
  "wrk -t1 -c$connections, ${secs}s each, $entries entries)"
