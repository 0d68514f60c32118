#!/usr/bin/env bash
# The webcam against the screen over a long recording: in the QEMU guest of
# scripts/test-webcam-guest.sh, one recording of a private Xvfb (320x240) and vivid (YUYV 320x180
# at 30 fps) while bench/webcam/flip_scene.c turns both black and white at the same moments every
# second. Each flip's first frame in output.mp4 and in webcam.mp4 (their tracks.json starts plus
# the frames' times) is laid against the flip's moment; prints how late each track shows the
# flips, and the webcam against the screen, in the first and the last minute.
#   bench/webcam/against_screen.sh [seconds=600]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-600}
out=$(mktemp -d /tmp/desktracks-against-screen.XXXXXX)
trap 'rm -rf "$out"' EXIT
mkdir -p "$root/build/guest"
gcc -O2 -o "$root/build/guest/flip_scene" "$root/bench/webcam/flip_scene.c" -lX11
echo "load: $(cat /proc/loadavg)"
GUEST_KEEP="$out" GUEST_TIMEOUT=$((seconds * 2 + 600)) bash "$root/scripts/test-webcam-guest.sh" \
  bash bench/webcam/against_screen_guest.sh "$seconds" "$root/build/guest/flip_scene"
echo "load: $(cat /proc/loadavg)"
node "$root/bench/webcam/against_screen.js" "$out"
