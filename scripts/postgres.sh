#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests and benchmarks: Debian's server, listening on a
# Unix socket in a new temporary folder only, with one superuser "tessaly" and no password.
#
#   eval "$(scripts/postgres.sh start)"   # exports TESSALY_PG_DIR and TESSALY_TEST_POSTGRES
#   scripts/postgres.sh stop "$TESSALY_PG_DIR"
#
# As root the cluster runs as the user postgres (the server refuses root); otherwise as the
# calling user. Durability is off: nothing in it outlives the run.
set -euo pipefail

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[[ -x $bin/initdb ]] || { echo "postgres.sh: no PostgreSQL server installed" >&2; exit 1; }
port=${TESSALY_PG_PORT:-5433}

as_owner() {
  if [[ $(id -u) -eq 0 ]]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case ${1:-} in
  start)
    dir=$(mktemp -d /tmp/tessaly-pg.XXXXXX)
    [[ $(id -u) -eq 0 ]] && chown postgres "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -A trust -U tessaly >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
      -o "-k $dir -p $port -c listen_addresses='' -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
      start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
    echo "export TESSALY_PG_DIR='$dir'"
    echo "export TESSALY_TEST_POSTGRES='postgresql://tessaly@/postgres?host=$dir&port=$port'"
    ;;
  stop)
    dir=${2:?the folder that start printed}
    as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null || true
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 start | stop DIR" >&2
    exit 2
    ;;
esac
