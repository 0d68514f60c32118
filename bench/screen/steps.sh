#!/usr/bin/env bash
# Capture quality and cost: bench/screen/step_scene.c draws its step number as a row of black and
# white blocks (16 bits, 20 px each, at the top-left corner) at a given rate on an otherwise still
# desktop and logs when the server finished drawing each step. Each recording is decoded back into
# the steps it caught. Compares the unpaced loop, constantFrameRate, changesOnly and ffmpeg's
# x11grab at the same rate, preset and bitrate, run after one another in each round, with the CPU
# of the recording process plus the X server's (from /proc), the samples written, the bytes per
# second of the file, and each recorder's CPU against ffmpeg's in the same round.
#   bench/screen/steps.sh [seconds] [scene rate] [recording fps] [rounds]   (defaults 8 30 30 3)
# MODES="constant ffmpeg" picks the recorders (default "unpaced constant changes ffmpeg").
# SCENE=still records a still desktop instead (no steps; the figures of interest are the CPU,
# also given as a share of one core over the recording's steady part, start-up and finishing left
# out). DESKTRACKS_SCREEN_SIZE=3840x2160 picks the display's size (default 1920x1080).
# A missed step counts as "brief" when the scene showed it for less than a quarter of a frame
# period (the scene itself ran late and drew two steps in quick succession).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-8}
rate=${2:-30}
fps=${3:-30}
rounds=${4:-3}
modes=${MODES:-unpaced constant changes ffmpeg}
scene_kind=${SCENE:-steps}
size=${DESKTRACKS_SCREEN_SIZE:-1920x1080}
export DESKTRACKS_SCREEN_SIZE=$size
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
    ffmpeg) ffmpeg -v error -y -f x11grab -framerate "$fps" -video_size "$size" -i "$DISPLAY" \
              -t "$seconds" -c:v libx264 -preset ultrafast -b:v 18M "$2/output.mp4" ;;
    *) # The steady part: from 1 s after start() to just before end(), this process and the X server.
       node -e "
         const fs = require('fs');
         const { Recorder } = require('$root');
         const xcpu = () => fs.readFileSync('/proc/$xpid/stat', 'utf8').split(') ')[1].split(' ').slice(11, 13).reduce((a, b) => a + Number(b), 0) / $hz;
         const r = new Recorder();
         r.start({ projectDir: '$2', fps: $fps, constantFrameRate: $3, changesOnly: $4 });
         let from;
         setTimeout(() => { from = [process.cpuUsage(), xcpu(), Date.now()]; }, 1000);
         setTimeout(() => {
           const cpu = process.cpuUsage(from[0]);
           fs.writeFileSync('$2/steady', ((cpu.user + cpu.system) / 1e6) + ' ' + (xcpu() - from[1]) + ' ' + (Date.now() - from[2]) / 1000);
           r.end();
         }, $seconds * 1000);" ;;
  esac
}

results="$work/results"
for round in $(seq 1 "$rounds"); do
  for mode in $modes; do
    dir="$work/$round-$mode"; mkdir -p "$dir"
    if [ "$scene_kind" = steps ]; then
      "$work/step_scene" steps "$rate" $((seconds + 4)) "$dir/scene.log" &
      scene=$!
    fi
    sleep 1
    load=$(cut -d' ' -f1-3 /proc/loadavg)
    x0=$(xcpu)
    constant=false; [ "$mode" = constant ] && constant=true
    changes=false; [ "$mode" = changes ] && changes=true
    /usr/bin/time -f '%U %S' -o "$dir/time" bash -c "$(declare -f record); fps=$fps seconds=$seconds root=$root size=$size \
      xpid=$xpid hz=$hz record $mode $dir $constant $changes" >/dev/null 2>&1
    x1=$(xcpu)
    if [ -n "$scene" ]; then wait "$scene"; scene=""; fi
    read -r u s < "$dir/time"
    caught=0 missed=0 brief=0 shown=-
    [ "$scene_kind" = steps ] && read -r caught missed brief shown < <(decode "$dir/output.mp4" "$dir/scene.log")
    samples=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$dir/output.mp4")
    bytes=$(stat -c %s "$dir/output.mp4")
    steady="- - -"; [ -f "$dir/steady" ] && steady=$(cat "$dir/steady")
    python3 -c "
u, x = $u + $s, ($x1 - $x0) / $hz
sc, sx, sw = '$steady'.split()
core = f'{100 * (float(sc) + float(sx)) / float(sw):.2f} % of a core steady' if sc != '-' else '-'
print(f'round $round {\"$mode\":<9} caught {$caught:>4}, missed {$missed:>3} (brief {$brief:>2}) = {100 * $caught / max(1, $caught + $missed):5.1f} %, '
      f'samples {$samples:>4}, {$bytes / $seconds / 1e6:.3f} MB/s, cpu {u:.2f} + X {x:.2f} = {u + x:.2f} s, {core}, load $load; missed steps were shown for (ms) $shown')" | tee -a "$results"
  done
done
echo "medians over $rounds rounds ($scene_kind scene at $rate Hz, $size, recorded at $fps fps, $seconds s):"
python3 - "$results" "$scene_kind" <<'PY'
import re, statistics, sys
rows, by_round = {}, {}
for line in open(sys.argv[1]):
    m = re.match(r'round (\d+) (\S+)\s+caught\s+(\d+), missed\s+(\d+).*=\s*([\d.]+) %, samples\s+(\d+), ([\d.]+) MB/s.*= ([\d.]+) s, (?:([\d.]+) % of a core steady|-), load ([\d.]+)', line)
    if not m: continue
    rows.setdefault(m[2], []).append(dict(caught=float(m[5]), samples=int(m[6]), mbs=float(m[7]), cpu=float(m[8]),
                                          core=float(m[9]) if m[9] else None, load=float(m[10]), round=m[1]))
    by_round.setdefault(m[1], {})[m[2]] = float(m[8])
for mode, v in rows.items():
    med = lambda k: statistics.median(r[k] for r in v)
    ratios = [by_round[r['round']][mode] / by_round[r['round']]['ffmpeg'] for r in v if 'ffmpeg' in by_round[r['round']]]
    caught = [r['caught'] for r in v]
    cores = [r['core'] for r in v if r['core'] is not None]
    print(f'{mode:<9} ' + (f'caught {statistics.median(caught):5.1f} % (min {min(caught):.1f}, max {max(caught):.1f}), ' if sys.argv[2] == 'steps' else '')
          + f'samples {med("samples"):.0f}, {med("mbs"):.3f} MB/s, cpu {med("cpu"):.2f} s'
          + (f', vs ffmpeg {statistics.median(ratios):.2f}x ({min(ratios):.2f}-{max(ratios):.2f})' if ratios and mode != 'ffmpeg' else '')
          + (f', steady {statistics.median(cores):.2f} % of a core ({min(cores):.2f}-{max(cores):.2f})' if cores else '')
          + f', load {med("load"):.2f}')
PY
