#!/usr/bin/env bash
# Builds the Debian package build-package/tessaly_VERSION_ARCH.deb: a Release build with
# Debian's hardening flags in its own build folder, the man page from the program's own help,
# and CPack's DEB generator. Prints the package's path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build-package
# Dates inside the package (changelog, man page) are the last commit's.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
rm -f "$build"/tessaly_*.deb
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DTESSALY_BENCH=OFF -DTESSALY_PACKAGE=ON -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j "$(nproc)"
(cd "$build" && cpack -G DEB >/dev/null)
ls "$PWD/$build"/tessaly_*.deb
