#!/usr/bin/env bash
# Screen track benchmark at 1920x1080 under Xvfb with a moving scene: our recorder against
# ffmpeg's x11grab + libx264 at the same preset and bitrate, one after the other in one run.
#   bench/screen/run.sh [seconds]        (builds build/ first if needed; BUILD_DIR=... to pick another)
# Prints written frames per second and frames per CPU-second of each, and the frame-image
# copy bandwidth against memcpy.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-10}
build=${BUILD_DIR:-$root/build}
work=$(mktemp -d /tmp/desktracks-screen-bench.XXXXXX)

[ -f "$build/libdesktracks_core.a" ] || { cmake -S "$root" -B "$build" >/dev/null && cmake --build "$build" -j2 --target desktracks_core; }
g++ -std=c++17 -O2 -I"$root/include" -I"$root/src" "$root/bench/screen/screen_bench.cpp" "$build/libdesktracks_core.a" \
  $(pkg-config --cflags --libs spdlog fmt libavcodec libavformat libavutil libswscale x11 xext xfixes xdamage xrandr) -lyuv -lpthread \
  -o "$work/screen_bench"

eval "$("$root/scripts/test-services.sh" start --scene)"
trap '"$root/scripts/test-services.sh" stop; rm -rf "$work"' EXIT
sleep 2  # let the scene come up

frames() { ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$1"; }

mkdir -p "$work/ours"
"$work/screen_bench" "$seconds" "$work/ours" | tee "$work/ours.txt"
ours_frames=$(frames "$work/ours/output.mp4")
read -r ours_wall ours_cpu < <(sed -n 's/^recorder: wall \([0-9.]*\) s, cpu \([0-9.]*\) s$/\1 \2/p' "$work/ours.txt")

/usr/bin/time -f '%e %U %S' -o "$work/ffmpeg.time" ffmpeg -v error -y -f x11grab -framerate 60 -video_size 1920x1080 \
  -i "$DISPLAY" -t "$seconds" -c:v libx264 -preset ultrafast -b:v 18M "$work/ffmpeg.mp4"
ff_frames=$(frames "$work/ffmpeg.mp4")
read -r ff_wall ff_user ff_sys < "$work/ffmpeg.time"

python3 - "$ours_frames" "$ours_wall" "$ours_cpu" "$ff_frames" "$ff_wall" "$ff_user" "$ff_sys" <<'PY'
import sys
of, ow, oc, ff, fw, fu, fs = map(float, sys.argv[1:])
fc = fu + fs
print(f"ours   : {of:.0f} frames in {ow:.2f} s = {of/ow:.1f} frames/s; cpu {oc:.2f} s = {of/oc:.1f} frames/cpu-s")
print(f"ffmpeg : {ff:.0f} frames in {fw:.2f} s = {ff/fw:.1f} frames/s; cpu {fc:.2f} s = {ff/fc:.1f} frames/cpu-s")
print(f"ratio  : {(of/oc)/(ff/fc):.2f}x frames per cpu-second")
PY
