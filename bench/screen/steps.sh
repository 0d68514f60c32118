#!/usr/bin/env bash
# Capture quality at 1920x1080: bench/screen/step_scene.c draws its step number as a row of
# black and white blocks (16 bits, 20 px each, at the top-left corner) at a given rate on an
# otherwise still desktop and logs when the server finished drawing each step. Each recording is
# decoded back into the steps it caught. Compares the unpaced loop, constantFrameRate and ffmpeg's
# x11grab at the same rate, preset and bitrate, run after one another in each round, with the CPU
# of the recording process plus the X server's (from /proc).
#   bench/screen/steps.sh [seconds] [scene rate] [recording fps] [rounds]   (defaults 8 30 30 3)
# MODES="constant ffmpeg" picks the recorders (default "unpaced constant ffmpeg").
# A missed step counts as "brief" when the scene showed it for less than a quarter of a frame
# period (the scene itself ran late and drew two steps in quick succession).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-8}
rate=${2:-30}
fps=${3:-30}
rounds=${4:-3}
modes=${MODES:-unpaced constant ffmpeg}
work=$(mktemp -d /tmp/desktracks-steps-bench.XXXXXX)

source "$root/bench/screen/scene_services.sh"

decode() { # video scene-log -> "caught missed brief shown-ms-of-missed"
  ffmpeg -v quiet -i "$1" -fps_mode passthrough -vf crop=320:32:0:0,format=gray -f rawvideo - 2>/dev/null |
    python3 -c '
import sys
data = sys.stdin.buffer.read(); size = 320 * 32
shown = []
for i in range(len(data) // size):
    row = data[i * size + 16 * 320:(i * size) + 17 * 320]
    shown.append(sum((1 << k) for k in range(16) if row[20 * k + 10] > 128))
drawn = {}
for line in open(sys.argv[1]):
    n, t = map(int, line.split()); drawn[n] = t
seen = set(shown)
# The steps drawn while recording: from the first caught to the last caught, less the edges.
lo, hi = min(seen) + 1, max(seen) - 1
want = [n for n in range(lo, hi + 1) if n in drawn]
missed = [n for n in want if n not in seen]
brief = [n for n in missed if n + 1 in drawn and drawn[n + 1] - drawn[n] < 0.25e9 / float(sys.argv[2])]
shown_ms = sorted(round((drawn[n + 1] - drawn[n]) / 1e6) for n in missed if n + 1 in drawn)
print(len(want) - len(missed), len(missed), len(brief), ",".join(map(str, shown_ms)) or "-")' "$2" "$fps"
}

record() { # mode dir
  case $1 in
    ffmpeg) ffmpeg -v error -y -f x11grab -framerate "$fps" -video_size 1920x1080 -i "$DISPLAY" \
              -t "$seconds" -c:v libx264 -preset ultrafast -b:v 18M "$2/output.mp4" ;;
    *) node -e "
         const { Recorder } = require('$root');
         const r = new Recorder();
         r.start({ projectDir: '$2', fps: $fps, constantFrameRate: ${3} });
         setTimeout(() => r.end(), $seconds * 1000);" ;;
  esac
}

results="$work/results"
for round in $(seq 1 "$rounds"); do
  for mode in $modes; do
    dir="$work/$round-$mode"; mkdir -p "$dir"
    "$work/step_scene" steps "$rate" $((seconds + 4)) "$dir/scene.log" &
    scene=$!
    sleep 1
    load=$(cut -d' ' -f1 /proc/loadavg)
    x0=$(xcpu)
    constant=false; [ "$mode" = constant ] && constant=true
    /usr/bin/time -f '%U %S' -o "$dir/time" bash -c "$(declare -f record); fps=$fps seconds=$seconds root=$root record $mode $dir $constant" >/dev/null 2>&1
    x1=$(xcpu)
    wait "$scene"; scene=""
    read -r u s < "$dir/time"
    read -r caught missed brief shown < <(decode "$dir/output.mp4" "$dir/scene.log")
    samples=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$dir/output.mp4")
    python3 -c "
u, x = $u + $s, ($x1 - $x0) / $hz
print(f'round $round {\"$mode\":<9} caught {$caught:>4}, missed {$missed:>3} (brief {$brief:>2}) = {100 * $caught / max(1, $caught + $missed):5.1f} %, samples {$samples:>4}, cpu {u:.2f} + X {x:.2f} = {u + x:.2f} s, load $load; missed steps were shown for (ms) $shown')" | tee -a "$results"
  done
done
echo "medians over $rounds rounds (scene $rate Hz, recorded at $fps fps, $seconds s):"
python3 - "$results" <<'PY'
import re, statistics, sys
rows = {}
for line in open(sys.argv[1]):
    m = re.match(r'round \d+ (\S+)\s+caught\s+(\d+), missed\s+(\d+).*=\s*([\d.]+) %.*= ([\d.]+) s, load ([\d.]+)', line)
    if m: rows.setdefault(m[1], []).append((float(m[4]), float(m[5]), float(m[6])))
for mode, v in rows.items():
    caught = [r[0] for r in v]
    print(f'{mode:<9} caught {statistics.median(caught):5.1f} % (min {min(caught):.1f}, max {max(caught):.1f}), '
          f'cpu {statistics.median(r[1] for r in v):.2f} s, load {statistics.median(r[2] for r in v):.2f}')
PY
