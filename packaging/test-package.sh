#!/usr/bin/env bash
# Installs the built Debian package into this machine, uses what it installed, and removes it:
#   - lintian reports no error (its warnings are printed);
#   - apt-get installs it; the binary, the man page, the conffile, the system user and the
#     site's folders are where the package says;
#   - tessaly init and serve from the installed paths, with the installed configuration, on a
#     throwaway site: pages and an administrator logon over HTTP;
#   - the unit's own command line as the service user on the package's site folder, and
#     systemd-analyze verify of the units where systemd is installed;
#   - a reinstall (an upgrade's scripts) leaves the database and an edited configuration alone;
#   - a purge removes the program and its configuration and keeps the site and its database.
# Needs root (apt-get, setpriv). Refuses to run where tessaly is installed or /var/lib/tessaly exists, so that it
# never touches a real site; it removes all it made, also when it fails.
# Usage: packaging/test-package.sh PATH/tessaly_VERSION_ARCH.deb
set -euo pipefail
deb=$(realpath "$1")
version=$(dpkg-deb -f "$deb" Version)
unit=/lib/systemd/system/tessaly.service
socket_unit=/lib/systemd/system/tessaly.socket
state=/var/lib/tessaly
export DEBIAN_FRONTEND=noninteractive

fail() { echo "package test: $*" >&2; exit 1; }
((EUID == 0)) || fail "needs root (apt-get, setpriv)"
if dpkg-query -W -f='${Status}' tessaly 2>/dev/null | grep -q "install ok installed"; then
  fail "tessaly is installed here; this test installs and purges it"
fi
[[ ! -e $state ]] || fail "$state exists; this test would use and remove it"
made_user=yes
getent passwd tessaly >/dev/null && made_user=

work=$(mktemp -d)
server=
cleanup() {
  [[ -n $server ]] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  apt-get purge -y -qq tessaly >/dev/null 2>&1 || true
  rm -rf "$state" "$work"
  [[ -n $made_user ]] && deluser --system --quiet tessaly >/dev/null 2>&1 || true
}
trap cleanup EXIT

# Starts "$@" (a tessaly serve command line) in the background and sets $url from its output.
start_server() {
  "$@" >"$work/serve.out" 2>"$work/serve.err" &
  server=$!
  for _ in $(seq 100); do
    url=$(grep -o 'http://[^ ]*' "$work/serve.out" || true)
    [[ -n $url ]] && return 0
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/serve.err" >&2
  fail "no URL from: $*"
}

stop_server() {
  kill -TERM "$server"
  local status=0
  wait "$server" || status=$?
  server=
  ((status == 0)) || fail "tessaly serve exited with $status on SIGTERM"
}

expect_page() {  # URL TEXT [curl options]: the page at URL holds TEXT
  local page=$1 text=$2
  shift 2
  curl -sS --fail "$@" "$page" >"$work/page" || fail "could not fetch $page"
  grep -qF -- "$text" "$work/page" || fail "$page does not show \"$text\": $(head -c 400 "$work/page")"
}

echo "-- lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1 | grep -v '^running with root' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors"

echo "-- install"
apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get install"; }
[[ $(command -v tessaly) == /usr/bin/tessaly ]] || fail "tessaly is not /usr/bin/tessaly"
[[ $(tessaly --version) == "tessaly $version" ]] || fail "tessaly --version: $(tessaly --version)"
zcat /usr/share/man/man1/tessaly.1.gz | grep -q '^\.TH TESSALY "1"' || fail "no man page tessaly(1)"
zcat /usr/share/man/man1/tessaly.1.gz | grep -q 'tessaly serve' || fail "the man page lacks the commands"
dpkg-query -W -f='${Conffiles}\n' tessaly | grep -q ' /etc/tessaly/tessaly.toml ' ||
  fail "/etc/tessaly/tessaly.toml is not a conffile"
IFS=: read -r _ _ _ _ _ home shell < <(getent passwd tessaly) || fail "no user tessaly"
[[ $home == "$state" && $shell == */nologin ]] || fail "user tessaly: home $home, shell $shell"
[[ $(stat -c '%U %a' "$state/site/log") == "tessaly 750" ]] ||
  fail "$state/site/log: $(stat -c '%U %a' "$state/site/log")"
[[ ! -e $state/site/log/logs.mdb ]] || fail "the package created a database"

echo "-- init and serve from the installed paths on a throwaway site"
site=$work/site
echo 'first-Secret' | tessaly init --root "$site" --user admin --password-stdin >/dev/null
start_server tessaly serve --config /etc/tessaly/tessaly.toml --root "$site" --listen 127.0.0.1:0
expect_page "$url/log/board?action=hotnews" "没有日志"
sqlite3 "$site/log/logs.mdb" "INSERT INTO MESSAGE (TITLE, CONTENT) VALUES ('装好了', '从软件包运行。')"
expect_page "$url/log/board?action=list" "装好了"
expect_page "$url/log/board?action=admin&do=logon" "控制面板" \
  --data-urlencode username=admin --data-urlencode password=first-Secret
stop_server

echo "-- the unit's command line as its user on the package's site"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
[[ $exec_start == "/usr/bin/tessaly serve --config /etc/tessaly/tessaly.toml" ]] ||
  fail "ExecStart=$exec_start"
# shellcheck disable=SC2016 # the unit's own text, not expanded
grep -qx 'ExecReload=/bin/kill -HUP $MAINPID' "$unit" || fail "no ExecReload= in $unit"
grep -qx 'ListenStream=127.0.0.1:8080' "$socket_unit" || fail "no ListenStream= in $socket_unit"
as_service=(setpriv --reuid=tessaly --regid=tessaly --init-groups --)
echo 'first-Secret' | "${as_service[@]}" tessaly init --root "$state/site" --user admin \
  --password-stdin >/dev/null
# shellcheck disable=SC2086 # the unit's command line is split into words as systemd does
start_server "${as_service[@]}" $exec_start --listen 127.0.0.1:0
expect_page "$url/log/board?action=list" "没有网站日志"
stop_server
if "${as_service[@]}" touch "$state/site/not-yours" 2>/dev/null; then
  fail "the service user may write the site's pages"
fi
if command -v systemd-analyze >/dev/null; then
  # It warns of unknown keys and bad values without failing: any output is a complaint. The
  # Documentation= man page is looked up only where man is installed.
  man=no
  command -v man >/dev/null && man=yes
  for checked in "$unit" "$socket_unit"; do
    complaints=$(systemd-analyze verify --man="$man" "$checked" 2>&1) ||
      fail "systemd-analyze: $complaints"
    [[ -z $complaints ]] || fail "systemd-analyze verify $checked: $complaints"
  done
  echo "systemd-analyze verify: no complaint"
else
  echo "systemd-analyze not found: the unit is not verified (install systemd to check it)"
fi

echo "-- reinstall keeps the database and an edited configuration"
database=$state/site/log/logs.mdb
before=$(sha256sum <"$database")
echo '# edited by the administrator' >>/etc/tessaly/tessaly.toml
apt-get install --reinstall -y -qq "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get install --reinstall"; }
[[ $(sha256sum <"$database") == "$before" ]] || fail "a reinstall changed the database"
grep -q '^# edited by the administrator' /etc/tessaly/tessaly.toml ||
  fail "a reinstall replaced the edited configuration"

echo "-- purge keeps the site"
apt-get purge -y -qq tessaly >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get purge"; }
for gone in /usr/bin/tessaly /etc/tessaly "$unit" "$socket_unit" /usr/share/man/man1/tessaly.1.gz; do
  [[ ! -e $gone ]] || fail "$gone is still there after the purge"
done
[[ $(sha256sum <"$database") == "$before" ]] || fail "the purge changed or removed the database"
[[ -f $site/log/logs.mdb ]] || fail "the purge removed the throwaway site's database"
echo "package test: passed"
