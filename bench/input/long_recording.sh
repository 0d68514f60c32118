#!/usr/bin/env bash
# An hour of mouse records through the input thread, side by side: this tree against another
# build of the project (BEFORE_BUILD=<its build dir> BEFORE_SRC=<its source dir>), alternating
# ROUNDS times (default 3). Without BEFORE_BUILD, only this tree. Runs without a display: the
# cursor query then answers "Unknown" at once, so the figures are the recorder's own work.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build_bench() {  # <source dir> <build dir> <output>
  local src=$1 build=$2
  c++ -std=c++17 -O2 -I"$src/include" -I"$src/src" -isystem "$root/third_party/trixie/usr/include" \
    -isystem "$root/third_party/uiohook/libuiohook/include" "$root/bench/input/long_recording.cpp" "$build/libdesktracks_core.a" \
    $(pkg-config --libs libavformat libavcodec libavutil libswscale x11 xext xfixes xdamage xrandr xcursor) -lyuv -lspdlog -lfmt -lpthread -ldl -lm -o "$3"
}
build_bench "$root" "$root/${BUILD_DIR:-build}" "$work/after"
sides=(after)
if [ -n "${BEFORE_BUILD:-}" ]; then
  build_bench "${BEFORE_SRC:?}" "$BEFORE_BUILD" "$work/before"
  sides=(before after)
fi
echo "load: $(cat /proc/loadavg)"
for round in $(seq "${ROUNDS:-3}"); do
  for side in "${sides[@]}"; do
    rm -rf "$work/project" && mkdir "$work/project"
    echo "== $side, round $round"
    env -u DISPLAY "$work/$side" "$work/project"
    echo "   journal lines: $(grep -c '"kind":"position"' "$work/project/journal.jsonl") positions, $(grep -c '"kind":"click"' "$work/project/journal.jsonl") clicks"
    (cd "$work/project" && md5sum positions.end.json clicks.end.json positions.json clicks.json | sed 's/^/   /')
  done
done
echo "load: $(cat /proc/loadavg)"
