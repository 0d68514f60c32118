#!/usr/bin/env bash
# Microphones whose clocks run +500, 0 and -500 ppm against the wall clock, recorded for longer
# than the guest lane affords: test/guest/drift.test.js in the QEMU guest of
# scripts/test-webcam-guest.sh, with beeps for `seconds`. Prints, per rate, the beeps' error in
# the first and the last minute, the rate measured and the correction made.
#   bench/audio/drift_guest.sh [seconds=600]
# The guest runs under software emulation unless the host offers hardware virtualisation; the
# host's load is printed before and after.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-600}
echo "load: $(cat /proc/loadavg)"
status=0
GUEST_TIMEOUT=$((seconds * 3 + 600)) bash "$root/scripts/test-webcam-guest.sh" \
  env DRIFT_SECONDS="$seconds" node --test --test-timeout=$(((seconds * 3 + 300) * 1000)) test/guest/drift.test.js || status=$?
echo "load: $(cat /proc/loadavg)"
exit $status
