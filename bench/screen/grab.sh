#!/usr/bin/env bash
# Whole-desktop grab at 1920x1080 with MIT-SHM against plain XGetImage (a server without it), on
# two private Xvfb servers, alternating A, B, B, A, ... so that load from other processes falls on
# both alike. Prints each run and the median of XGetImage/MIT-SHM per round, with the load.
#   bench/screen/grab.sh [grabs] [rounds]     (build/libdesktracks_core.a must exist)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
grabs=${1:-200}
rounds=${2:-6}
work=$(mktemp -d /tmp/desktracks-grab.XXXXXX)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

g++ -std=c++17 -O2 -I"$root/include" -I"$root/src" "$root/bench/screen/grab_bench.cpp" "$root/build/libdesktracks_core.a" \
  $(pkg-config --cflags --libs spdlog fmt libavcodec libavformat libavutil libswscale x11 xext xfixes xdamage xrandr xcursor) \
  -lyuv -lpthread -ldl -o "$work/grab"

start_xvfb() {  # extra argument for the server; prints its display
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp +extension RANDR "$@" 3>"$work/display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  echo ":$(head -n1 "$work/display")"
  : > "$work/display"
}
shm=$(start_xvfb +extension MIT-SHM)
plain=$(start_xvfb -extension MIT-SHM)

for round in $(seq 1 "$rounds"); do
  order="$shm $plain"; [ $((round % 2)) = 0 ] && order="$plain $shm"
  for display in $order; do
    echo "round $round $(DISPLAY=$display "$work/grab" "$grabs") load $(cut -d' ' -f1 /proc/loadavg)" | tee -a "$work/results"
  done
done
# Per round: XGetImage's ms per grab over MIT-SHM's, then their median (mawk has no sort of its own).
awk '/mitshm/ {s[$2]=$5} /xgetimage/ {p[$2]=$5} END {for (r in s) if (r in p) print p[r]/s[r]}' "$work/results" | sort -n > "$work/ratios"
n=$(wc -l < "$work/ratios")
echo "XGetImage/MIT-SHM ms per grab: median $(sed -n "$(( (n + 1) / 2 ))p" "$work/ratios"), range $(head -n1 "$work/ratios")-$(tail -n1 "$work/ratios") over $n rounds"
