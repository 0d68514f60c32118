#!/usr/bin/env bash
# Webcam track benchmark against a real V4L2 driver: vivid in the QEMU guest of
# scripts/test-webcam-guest.sh, YUYV at 640x480 and 1280x720 at the driver's fastest rate, our
# recorder beside `ffmpeg -f v4l2 ... -c:v libx264` at the same settings (ultrafast, zerolatency,
# Main, 12 Mbit/s), one after the other in one guest.
#   bench/webcam/run.sh [seconds]
# Prints frames written against the driver's rate and frames per CPU-second of each. The guest runs
# under software emulation unless the host offers hardware virtualisation: compare the ratio, not
# the absolute figures.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exec bash "$root/scripts/test-webcam-guest.sh" bash bench/webcam/guest.sh "${1:-6}"
