#!/usr/bin/env bash
# The 1080p screen bench for two builds side by side: recordings alternate A, B, B, A, ... on one
# display with a moving scene, so that load from other processes falls on both alike.
#   bench/screen/ab.sh <build dir A> <build dir B> [seconds] [rounds]
# Each build dir holds a libdesktracks_core.a (cmake --build DIR --target desktracks_core).
# Prints, per build, the median and range of written samples per second (over the wall time with
# and without the stop), samples per CPU-second, and the time the stop took (finishing included);
# then the median and range of B/A within each round.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 2 ] || { echo "usage: $0 <build dir A> <build dir B> [seconds] [rounds]" >&2; exit 2; }
builds=("$(cd "$1" && pwd)" "$(cd "$2" && pwd)")
seconds=${3:-10}
rounds=${4:-5}
work=$(mktemp -d /tmp/desktracks-screen-ab.XXXXXX)

for i in 0 1; do
  g++ -std=c++17 -O2 -I"$root/include" -I"$root/src" "$root/bench/screen/screen_bench.cpp" "${builds[$i]}/libdesktracks_core.a" \
    $(pkg-config --cflags --libs spdlog fmt libavcodec libavformat libavutil libswscale x11 xext xfixes xdamage xrandr) -lyuv -lpthread \
    -o "$work/bench$i"
done

eval "$("$root/scripts/test-services.sh" start --scene)"
trap '"$root/scripts/test-services.sh" stop; rm -rf "$work"' EXIT
sleep 2  # let the scene come up

: > "$work/results"
for round in $(seq 1 "$rounds"); do
  order="0 1"; [ $((round % 2)) = 0 ] && order="1 0"
  for i in $order; do
    dir="$work/run"; rm -rf "$dir"; mkdir -p "$dir"
    "$work/bench$i" "$seconds" "$dir" > "$work/out.txt"
    frames=$(ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$dir/output.mp4")
    read -r wall cpu < <(sed -n 's/^recorder: wall \([0-9.]*\) s, cpu \([0-9.]*\) s$/\1 \2/p' "$work/out.txt")
    stop=$(sed -n 's/^stop: \([0-9.]*\) s$/\1/p' "$work/out.txt")
    load=$(cut -d' ' -f1 /proc/loadavg)
    echo "$i $frames $wall $cpu ${stop:-nan} $load" | tee -a "$work/results"
  done
done

python3 - "$work/results" "${builds[0]}" "${builds[1]}" <<'PY'
import statistics, sys
rows = [list(map(float, line.split())) for line in open(sys.argv[1])]
def show(label, values, unit=""):
    values = sorted(values)
    return f"{label} {statistics.median(values):.3g} ({values[0]:.3g}-{values[-1]:.3g}){unit}"
for i, name in enumerate(sys.argv[2:]):
    mine = [r[1:] for r in rows if r[0] == i]
    print(f"{'AB'[i]} {name}:")
    print("   " + "; ".join([show("samples/s", [f / w for f, w, c, s, l in mine]),
                            show("samples/s before the stop", [f / (w - s) for f, w, c, s, l in mine]),
                            show("samples/cpu-s", [f / c for f, w, c, s, l in mine]),
                            show("stop", [s for f, w, c, s, l in mine], " s"),
                            f"load {min(r[4] for r in mine):.1f}-{max(r[4] for r in mine):.1f}"]))
# Each round ran A and B back to back: their ratio sees the least of the load's drift.
pairs = [(rows[k][1:], rows[k + 1][1:]) if rows[k][0] == 0 else (rows[k + 1][1:], rows[k][1:]) for k in range(0, len(rows) - 1, 2)]
print("B/A per round: " + "; ".join([show("samples/s", [b[0] / b[1] / (a[0] / a[1]) for a, b in pairs]),
                                     show("samples/cpu-s", [b[0] / b[2] / (a[0] / a[2]) for a, b in pairs])]))
PY
