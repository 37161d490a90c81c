#!/usr/bin/env bash
# Restarts that drop nothing, under a steady load of hot news requests (wrk), counting every
# request that failed: a socket error (connect, read, write, timeout) or an answer other than
# 2xx/3xx. Goal: 0 in both.
#   (a) One node on a socket that a holder keeps open as systemd does (bench/socket_holder.py),
#       restarted every few seconds: SIGTERM, exit, a new server on the same socket. New
#       connections wait in the socket's queue meanwhile.
#   (b) Two nodes on one site behind nginx's round robin, restarted one at a time (SIGTERM: the
#       drain, then exit; started again on its port once the other is healthy). nginx passes a
#       request that meets a closed node or a 503 on to the other node.
# Usage: bench/restart.sh [seconds of load per part, default 20]
# Needs: build/tessaly, wrk, nginx, python3, sqlite3, curl.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-20}
source bench/lib.sh

site=$work/site
make_site "$site" 1000

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# wrk's summary as "REQUESTS requests, FAILED failed (socket errors: connect C, read R, write
# W, timeout T; NON2XX non-2xx)". wrk's timeout is raised to 10 s: a request may wait in the
# socket's queue for the restart, which is not a failure.
failures() {
  awk '/requests in/ {n=$1} /Socket errors/ {gsub(",", ""); c=$4; r=$6; w=$8; t=$10}
       /Non-2xx/ {b=$5} END {printf "%d requests, %d failed (socket errors: connect %d, " \
       "read %d, write %d, timeout %d; %d non-2xx)\n", n, c+r+w+t+b, c, r, w, t, b}' "$1"
}
healthy() {  # port: waits until the node answers its health check with 200
  for _ in $(seq 200); do
    [[ $(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$1/healthz") == 200 ]] && return 0
    sleep 0.05
  done
  echo "node on port $1 did not become healthy" >&2
  return 1
}

echo "wrk: 1 thread, $connections connections, ${secs}s per part; tessaly --threads $threads"

# (a) One node, socket activation.
port=$(free_port)
restarts=$((secs / 4))
python3 bench/socket_holder.py "$port" "$restarts" 4 "$bin" serve --root "$site" \
  --threads "$threads" --drain-seconds 1 >"$work/holder.out" 2>"$work/holder.err" &
holder=$!
pids+=("$holder")
healthy "$port"
wrk -t1 -c"$connections" -d"$((restarts * 4 + 2))s" --timeout 10s "http://127.0.0.1:$port/log/board" >"$work/a.txt" || true
wait "$holder" || echo "holder: a server exited with status $?" >&2
echo "(a) one node, socket activation, $restarts restarts:"
sed 's/^/      /' "$work/holder.out"
echo "    $(failures "$work/a.txt")"

# (b) Two nodes behind nginx, rolling restart.
drain=2
a_port=$(free_port)
b_port=$(free_port)
node() {  # port: starts a node on it and records its process id in node_pid
  "$bin" serve --root "$site" --listen "127.0.0.1:$1" --threads 1 --drain-seconds "$drain" \
    >/dev/null 2>>"$work/nodes.err" &
  node_pid=$!
  pids+=("$node_pid")
}
node "$a_port"
a_pid=$node_pid
node "$b_port"
b_pid=$node_pid
healthy "$a_port"
healthy "$b_port"
nginx_port=$(free_port)
mkdir -p "$work/nginx/logs"
cat >"$work/nginx/nginx.conf" <<CONF
$( ((EUID == 0)) && echo "user root;")
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  upstream nodes {
    server 127.0.0.1:$a_port max_fails=1 fail_timeout=2s;
    server 127.0.0.1:$b_port max_fails=1 fail_timeout=2s;
    keepalive 16;
  }
  server {
    listen 127.0.0.1:$nginx_port;
    location / {
      proxy_pass http://nodes;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
      proxy_next_upstream error timeout http_503;
    }
  }
}
CONF
nginx -p "$work/nginx/" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
pids+=($!)
for _ in $(seq 100); do curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" && break; sleep 0.05; done
wrk -t1 -c"$connections" -d"${secs}s" --timeout 10s "http://127.0.0.1:$nginx_port/log/board" >"$work/b.txt" &
load=$!
restart() {  # pid port: SIGTERM, wait for the exit, start again, wait until healthy
  local started=$SECONDS
  kill -TERM "$1"
  wait "$1" || echo "node on port $2 exited with $?" >&2
  node "$2"
  healthy "$2"
  echo "      node on port $2: down and back in $((SECONDS - started)) s (drain ${drain} s)"
}
echo "(b) two nodes behind nginx, rolling restart:"
sleep $((secs / 4))
restart "$a_pid" "$a_port"
a_pid=$node_pid
sleep $((secs / 4))
restart "$b_pid" "$b_port"
b_pid=$node_pid
wait "$load" || true
echo "    $(failures "$work/b.txt")"
