#!/usr/bin/env bash
# Builds bench/audio/resample_bench.cpp against a built core library and runs it: the CPU that
# the audio clock and the drift resampling take per second of audio, beside a plain copy.
#
#   bench/audio/resample.sh [audio seconds per round=600] [rounds=5] [build dir=build]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${3:-$root/build}
out=$(mktemp -d /tmp/desktracks-resample-bench.XXXXXX)
trap 'rm -rf "$out"' EXIT
g++ -std=c++17 -O2 -I"$root/include" -I"$root/src" -isystem "$root/third_party/trixie/usr/include" \
  "$here/resample_bench.cpp" "$build/libdesktracks_core.a" \
  $(pkg-config --libs spdlog fmt) -lpthread -ldl -lm -o "$out/resample_bench"
echo "load: $(cat /proc/loadavg)"
"$out/resample_bench" "${1:-600}" "${2:-5}"
echo "load: $(cat /proc/loadavg)"
