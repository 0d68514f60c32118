#!/usr/bin/env bash
# Capture quality at 1920x1080: a small scene draws its step number as a row of black and white
# blocks (16 bits, 20 px each, at the top-left corner) at a given rate on an otherwise still
# desktop; each recording is decoded back into the steps it caught. Compares the unpaced loop,
# constantFrameRate and ffmpeg's x11grab at the same rate, preset and bitrate, with the CPU of the
# recording process plus the X server's (from /proc).
#   bench/screen/steps.sh [seconds] [scene rate] [recording fps]   (defaults 8 30 30)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-8}
rate=${2:-30}
fps=${3:-30}
work=$(mktemp -d /tmp/desktracks-steps-bench.XXXXXX)

eval "$("$root/scripts/test-services.sh" start)"
scene=""
trap '[ -n "$scene" ] && kill "$scene" 2>/dev/null; "$root/scripts/test-services.sh" stop; rm -rf "$work"' EXIT
xsetroot -solid grey
ffplay -loglevel quiet -an -noborder -left 0 -top 0 -x 320 -y 32 -f lavfi \
  -i "nullsrc=s=320x32:r=$rate,format=gray,geq=lum='255*mod(floor(N/pow(2\,floor(X/20)))\,2)'" &
scene=$!
sleep 2

xpid=$(cat "$DESKTRACKS_SERVICES_DIR/xvfb.pid")
hz=$(getconf CLK_TCK)
xcpu() { awk '{print $14+$15}' "/proc/$xpid/stat"; }

decode() { # file -> "caught missed first last cpu"
  ffmpeg -v quiet -i "$1" -fps_mode passthrough -vf crop=320:32:0:0,format=gray -f rawvideo - 2>/dev/null | python3 -c '
import sys
data = sys.stdin.buffer.read(); size = 320 * 32
steps = []
for i in range(len(data) // size):
    row = data[i * size + 16 * 320:(i * size) + 17 * 320]
    steps.append(sum((1 << k) for k in range(16) if row[20 * k + 10] > 128))
seen = sorted(set(steps))
# The steps shown while recording: from the first to the last caught, less the edges.
lo, hi = seen[0] + 1, seen[-1] - 1
inside = [s for s in seen if lo <= s <= hi]
print(len(inside), (hi - lo + 1) - len(inside))'
}

run() { # label file command...
  local label=$1 file=$2; shift 2
  local x0; x0=$(xcpu)
  /usr/bin/time -f '%U %S' -o "$work/time" "$@" >/dev/null 2>&1
  local x1; x1=$(xcpu)
  read -r u s < "$work/time"
  read -r caught missed < <(decode "$file")
  local samples; samples=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$file")
  python3 -c "
u, s, x = $u + $s, 0, ($x1 - $x0) / $hz
print(f'{\"$label\":<22} steps caught {$caught:>4}, missed {$missed:>4} ({100 * $caught / max(1, $caught + $missed):.1f} %), samples {$samples:>5}, cpu {u:.2f} s + X {x:.2f} s = {u + x:.2f} s')"
}

for mode in false true; do
  label="unpaced loop"; [ "$mode" = true ] && label="constant rate"
  mkdir -p "$work/$mode"
  run "$label" "$work/$mode/output.mp4" node -e "
    const { Recorder } = require('$root');
    const r = new Recorder();
    r.start({ projectDir: '$work/$mode', fps: $fps, constantFrameRate: $mode });
    setTimeout(() => r.end(), $seconds * 1000);"
done
run "ffmpeg x11grab" "$work/ffmpeg.mp4" ffmpeg -v error -y -f x11grab -framerate "$fps" -video_size 1920x1080 -i "$DISPLAY" \
  -t "$seconds" -c:v libx264 -preset ultrafast -b:v 18M "$work/ffmpeg.mp4"
