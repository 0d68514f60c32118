#!/usr/bin/env bash
# Where the CPU goes, stage by stage, when a constant-rate recording and ffmpeg's x11grab each
# record the same 1920x1080 desktop with a small moving part (bench/screen/step_scene.c box) at
# the same rate, preset (libx264 ultrafast) and bitrate. perf samples each recording process; its
# samples are sorted into stages by library and function and scaled to the process's CPU time.
# The grab's main cost is the X server's copy, which is its own line.
#   bench/screen/stages.sh [seconds] [fps]   (defaults 10 30; needs perf)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-10}
fps=${2:-30}
work=$(mktemp -d /tmp/desktracks-stages-bench.XXXXXX)

source "$root/bench/screen/scene_services.sh"
start_box_scene "$fps"

profile() { # name command...
  local name=$1; shift
  local x0; x0=$(xcpu)
  /usr/bin/time -f '%U %S' -o "$work/$name.time" perf record -q -e cpu-clock -F 999 -o "$work/$name.data" -- "$@" >/dev/null 2>&1
  echo "$(( $(xcpu) - x0 ))" > "$work/$name.x"
  perf report -i "$work/$name.data" --no-children --sort dso,sym --stdio 2>/dev/null | grep -E '^ +[0-9.]+%' > "$work/$name.report" || true
}

profile ours node -e "
  const { Recorder } = require('$root');
  const r = new Recorder();
  r.start({ projectDir: '$work/ours', fps: $fps, constantFrameRate: true });
  setTimeout(() => r.end(), $seconds * 1000);"
profile ffmpeg ffmpeg -v error -y -f x11grab -framerate "$fps" -video_size 1920x1080 -i "$DISPLAY" -t "$seconds" \
  -c:v libx264 -preset ultrafast -b:v 18M "$work/ffmpeg.mp4"

python3 - "$work" "$hz" <<'PY'
import re, sys
work, hz = sys.argv[1], float(sys.argv[2])
def stage(dso, sym):
    if 'x264' in dso: return 'encode (x264)'
    if 'yuv' in dso or 'swscale' in dso or re.search(r'ARGBTo|RGBTo|I420', sym): return 'convert (to 4:2:0)'
    if re.search(r'mem(cpy|move)|storeFrame|copyDesktopPart|grabPart', sym): return 'copy'
    if re.search(r'libX|libxcb|x11grab', dso + sym): return 'grab (client side)'
    if 'avformat' in dso or re.search(r'mov_|avio_|ff_mov', sym): return 'mux'
    if 'avcodec' in dso or 'avutil' in dso: return 'other FFmpeg'
    if 'kernel' in dso: return 'kernel'
    return 'other (Node, start-up, rest)'
for name in ('ours', 'ffmpeg'):
    user, system = map(float, open(f'{work}/{name}.time').read().split())
    cpu = user + system
    stages = {}
    for line in open(f'{work}/{name}.report'):
        m = re.match(r'\s+([\d.]+)%\s+(\S+)\s+\[.\]\s+(.*)', line)
        if not m: continue
        key = stage(m[2], m[3])
        stages[key] = stages.get(key, 0) + float(m[1])
    x = int(open(f'{work}/{name}.x').read()) / hz
    print(f'{"constant rate" if name == "ours" else "ffmpeg x11grab"}: {cpu:.2f} s process + {x:.2f} s X server')
    for key, share in sorted(stages.items(), key=lambda kv: -kv[1]):
        print(f'  {key:<30} {cpu * share / 100:6.2f} s ({share:4.1f} %)')
    print(f'  {"grab (X server copy)":<30} {x:6.2f} s')
PY
