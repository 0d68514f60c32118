#!/usr/bin/env bash
# Cost of reading the live status.
#  1. The capture side in isolation: the counters bumped in a tight loop with no reader, a reader
#     at 100 reads/s and a reader flat out (nanoseconds per bump round; noise-free).
#  2. 1080p recordings of a moving scene in rounds of three: nothing else running, a 100 Hz timer
#     that does nothing, the same timer reading getStatus(): written screen samples per second and
#     per CPU-second, as ratios within each round (the unpaced loop follows the machine's load),
#     and the CPU a read takes against the CPU the recording uses (status_reads.js).
#   bench/status/run.sh [seconds per recording] [rounds]    (uses build/ like lib/ does)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-4}
rounds=${2:-6}

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
node "$root/bench/status/status_reads.js" "$seconds" "$rounds"
