#!/bin/sh
# Builds the fuzz targets with clang and runs each for a bounded time.
#   fuzz/run.sh [SECONDS [TARGET...]]   (default 60 s each; targets: markup upload)
# Exits non-zero when a fuzzer finds a crash, a sanitizer report or a hang.
set -eu
seconds="${1:-60}"
[ $# -gt 0 ] && shift
targets="${*:-markup upload}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TESSALY_FUZZ_BUILD:-$root/build-fuzz}"

CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DTESSALY_FUZZ=ON -DBUILD_TESTING=OFF \
  -DTESSALY_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
for target in $targets; do
  cmake --build "$build" --target "${target}_fuzz" -j2
done

cd "$build/fuzz"
for target in $targets; do
  corpus="$build/fuzz/${target}_corpus"
  mkdir -p "$corpus"
  options=""
  if [ "$target" = upload ]; then
    options="-dict=$root/fuzz/upload.dict"
    # A body as a browser sends it, so that mutations start from the shape the parser expects.
    printf -- '--b\r\nContent-Disposition: form-data; name="image"; filename="C:\\a\\x.gif"\r\nContent-Type: image/gif\r\n\r\nGIF\r\n--b\r\nContent-Disposition: form-data; name="B1"\r\n\r\nok\r\n--b--\r\n' \
      >"$corpus/browser-form"
  fi
  echo "== fuzzing $target for $seconds s"
  # shellcheck disable=SC2086
  ./"${target}_fuzz" "$corpus" $options -max_total_time="$seconds" -timeout=10 -max_len=8192 \
    -print_final_stats=1
done
