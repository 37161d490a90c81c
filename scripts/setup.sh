#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the benchmarks need. Idempotent:
# when everything is already there it changes nothing and asks no package server.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev clang-format clang-tidy
  libboost-dev libboost-system-dev libsqlite3-dev sqlite3 libspdlog-dev libfmt-dev libcli11-dev
  libtomlplusplus-dev libgtest-dev libgmock-dev libbenchmark-dev
  wrk nginx-light curl ca-certificates
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
