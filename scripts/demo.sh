#!/usr/bin/env bash
# Builds tessaly and serves a demo site at http://127.0.0.1:8080 (PORT=... to change).
# The first run creates the site's database and an administrator "admin" with a generated
# password, which it prints; later runs keep both.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DTESSALY_BENCH=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target tessaly

site=build-release/demo-site
mkdir -p "$site"
cp -rn demo/site/. "$site"/
if [[ ! -f $site/log/logs.mdb ]]; then
  build-release/tessaly init --root "$site" --user admin --generate-password
  sqlite3 "$site/log/logs.mdb" \
    "INSERT INTO MESSAGE (TITLE, CONTENT) VALUES ('欢迎使用&nbsp;Tessaly', '这是第一条网站日志。<br>管理员可以在管理区增加、编辑和删除日志。');"
fi
exec build-release/tessaly serve --root "$site" --config demo/tessaly.toml \
  --listen "127.0.0.1:${PORT:-8080}"
