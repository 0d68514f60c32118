#!/usr/bin/env bash
# Cost of reading the live status.
#  1. The capture side in isolation: the counters bumped in a tight loop with no reader, a reader
#     at 100 reads/s and a reader flat out (nanoseconds per bump round; noise-free).
#  2. 1080p recordings of a moving scene, alternately with nobody reading and with getStatus()
#     read 100 times a second, side by side in one run: written screen samples per second and
#     per CPU-second (noisy on a shared machine: the unpaced loop follows the load).
#   bench/status/run.sh [seconds per recording] [pairs]    (uses build/ like lib/ does)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-5}
pairs=${2:-3}

build=${BUILD_DIR:-$root/build}
work=$(mktemp -d /tmp/desktracks-status-bench.XXXXXX)
[ -f "$build/libdesktracks_core.a" ] || { cmake -S "$root" -B "$build" >/dev/null && cmake --build "$build" -j2 --target desktracks_core; }
g++ -std=c++17 -O2 -I"$root/include" -I"$root/src" "$root/bench/status/status_bench.cpp" "$build/libdesktracks_core.a" \
  $(pkg-config --cflags --libs spdlog fmt) -lpthread -o "$work/status_bench"
"$work/status_bench"
rm -rf "$work"

if [ -z "${DESKTRACKS_SERVICES_DIR:-}" ]; then
  eval "$("$root/scripts/test-services.sh" start --scene)"
  trap '"$root/scripts/test-services.sh" stop' EXIT
  sleep 2  # let the scene come up
fi
node "$root/bench/status/status_reads.js" "$seconds" "$pairs"
