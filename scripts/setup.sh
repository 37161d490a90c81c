#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the benchmarks need. Idempotent:
# when everything is already there it changes nothing and asks no package server.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev clang-format clang-tidy
  libboost-dev libboost-system-dev libsqlite3-dev sqlite3 libspdlog-dev libfmt-dev libcli11-dev
  libtomlplusplus-dev libgtest-dev libgmock-dev libbenchmark-dev libsodium-dev libpq-dev
  # The metrics' text format (its core library only; its own HTTP server is not used).
  prometheus-cpp-dev
  # The PostgreSQL backend's tests run on a throwaway cluster of Debian's server.
  postgresql
  # The end-to-end tests: a real feed parser, nginx in front of the server, and systemd's
  # systemd-socket-activate, which hands the server its listening socket as systemd does.
  curl ca-certificates python3-feedparser nginx-light systemd
  # The browser tests (tests/browser; a CJK font so that their screenshots can be read) and the
  # Debian package (scripts/package.sh and its test).
  chromium fonts-wqy-microhei help2man lintian file dpkg-dev
)
# Only the benchmarks need these; a failure to install them must not stop a build or a test.
bench_packages=(wrk)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO="sudo"
  $SUDO apt-get update -qq
  updated=1
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

bench_missing=()
for p in "${bench_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || bench_missing+=("$p")
done
if ((${#bench_missing[@]})); then
  echo "setup: installing ${bench_missing[*]} (for the benchmarks)"
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO="sudo"
  [[ -n ${updated:-} ]] || $SUDO apt-get update -qq || true
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    "${bench_missing[@]}" || echo "setup: warning: could not install ${bench_missing[*]}; bench/pages.sh needs them" >&2
fi
