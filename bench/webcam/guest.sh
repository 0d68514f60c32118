#!/usr/bin/env bash
# The guest half of bench/webcam/run.sh (see there).
set -euo pipefail
seconds=$1
work=$(mktemp -d)
dev=/dev/video0
v4l2-ctl -d $dev -c osd_text_mode=2

frames() { ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$1"; }

# CPU seconds of a whole recording process (every thread), webcam or not; the difference is the
# webcam track's own cost.
recorder_cpu() {
  node -e '
    const { Recorder } = require(".");
    const [dir, index, seconds] = process.argv.slice(1);
    const recorder = new Recorder();
    const before = process.cpuUsage();
    recorder.start({ projectDir: dir, webcamIndex: Number(index) });
    setTimeout(() => {
      recorder.end();
      const used = process.cpuUsage(before);
      console.error(((used.user + used.system) / 1e6).toFixed(3));
    }, seconds * 1000);' "$1" "$2" "$seconds" 2>&1 >/dev/null | tail -n 1
}

# A first run warms the guest's file cache (the encoder's code arrives through the emulated share).
recorder_cpu "$work/warm" 0 >/dev/null
base=$(recorder_cpu "$work/base" -1)
echo "recorder without a webcam: cpu ${base} s over ${seconds} s"

for size in 640x480:25 1280x720:12.5; do
  wh=${size%%:*}; fps=${size##*:}; w=${wh%x*}; h=${wh#*x}
  v4l2-ctl -d $dev --set-fmt-video=width=$w,height=$h,pixelformat=YUYV --set-parm=$fps >/dev/null
  ours=$(recorder_cpu "$work/ours-$wh" 0)
  ours_frames=$(frames "$work/ours-$wh/webcam.mp4")
  /usr/bin/time -f '%U %S' -o "$work/ff.time" ffmpeg -v error -y -f v4l2 -input_format yuyv422 -video_size "$wh" \
    -framerate "$fps" -i $dev -t "$seconds" -pix_fmt yuv420p -c:v libx264 -preset ultrafast -tune zerolatency -profile:v main \
    -x264-params cabac=1 -b:v 12M "$work/ff-$wh.mp4"
  ff_frames=$(frames "$work/ff-$wh.mp4")
  read -r ff_user ff_sys < "$work/ff.time"
  python3 - "$wh" "$fps" "$seconds" "$ours" "$base" "$ours_frames" "$ff_user" "$ff_sys" "$ff_frames" <<'PY'
import sys
wh = sys.argv[1]
fps, seconds, ours, base, of, fu, fs, ff = map(float, sys.argv[2:])
track = ours - base
fc = fu + fs
print(f"{wh} @ {fps:g} fps ({fps*seconds:.0f} frames offered):")
print(f"  ours  : {of:.0f} frames, webcam track cpu {track:.2f} s = {of/track:.1f} frames/cpu-s ({100*track/seconds:.0f}% of a core)")
print(f"  ffmpeg: {ff:.0f} frames, cpu {fc:.2f} s = {ff/fc:.1f} frames/cpu-s ({100*fc/seconds:.0f}% of a core)")
print(f"  ratio : {(of/track)/(ff/fc):.2f}x frames per cpu-second (above 1: ours is cheaper)")
PY
done
rm -rf "$work"
