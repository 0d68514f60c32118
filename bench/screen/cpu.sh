#!/usr/bin/env bash
# CPU of a constant-rate recording against ffmpeg's x11grab at 1920x1080 while a small part of a
# still desktop moves (bench/screen/step_scene.c box: a 200x200 box, 16 px a step at the recording
# rate). Both encode with libx264 ultrafast at 18 Mbit/s; each round records with both, one after
# the other, and the CPU counted is the recording process's (user + system, whole process, start-up
# and finishing included) plus the X server's during the recording.
#   bench/screen/cpu.sh [seconds] [fps] [rounds]   (defaults 10 30 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-10}
fps=${2:-30}
rounds=${3:-5}
work=$(mktemp -d /tmp/desktracks-cpu-bench.XXXXXX)

source "$root/bench/screen/scene_services.sh"
start_box_scene "$fps"

measure() { # label command... -> "cpu x"
  local x0 x1 u s
  x0=$(xcpu)
  /usr/bin/time -f '%U %S' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || cat "$work/stderr" >&2
  x1=$(xcpu)
  read -r u s < "$work/time"
  python3 -c "print($u + $s, ($x1 - $x0) / $hz)"
}

for round in $(seq 1 "$rounds"); do
  load=$(cut -d' ' -f1 /proc/loadavg)
  read -r ours ours_x < <(measure node -e "
    const { Recorder } = require('$root');
    const r = new Recorder();
    r.start({ projectDir: '$work/ours', fps: $fps, constantFrameRate: true });
    setTimeout(() => r.end(), $seconds * 1000);")
  read -r ff ff_x < <(measure ffmpeg -v error -y -f x11grab -framerate "$fps" -video_size 1920x1080 -i "$DISPLAY" \
    -t "$seconds" -c:v libx264 -preset ultrafast -b:v 18M "$work/ffmpeg.mp4")
  samples() { ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$1"; }
  python3 -c "
o, ox, f, fx = $ours, $ours_x, $ff, $ff_x
os, fs = $(samples "$work/ours/output.mp4"), $(samples "$work/ffmpeg.mp4")
# A recording that fell short of its samples did less work: it does not count.
valid = min(os, fs) >= 0.95 * $seconds * $fps
print(f'round $round: constant rate {o:.2f} + X {ox:.2f} = {o + ox:.2f} s ({os} samples); ffmpeg {f:.2f} + X {fx:.2f} = {f + fx:.2f} s ({fs}); '
      + (f'ratio {(o + ox) / (f + fx):.3f}' if valid else 'short, not counted') + '; load $load')" |
    tee -a "$work/results"
done
python3 - "$work/results" <<'PY'
import re, statistics, sys
ratios = [float(m[1]) for m in (re.search(r'ratio ([\d.]+)', l) for l in open(sys.argv[1])) if m]
print(f'ratio median {statistics.median(ratios):.3f}, min {min(ratios):.3f}, max {max(ratios):.3f} over {len(ratios)} rounds'
      if ratios else 'no round counted')
PY
