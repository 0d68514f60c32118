#!/usr/bin/env bash
# Where tracks.json places a beep in both WAVs against the moment the sound server played it,
# over a number of 2 s recordings (bench/audio/alignment.js); starts the test services when none
# are running.
#
#   bench/audio/alignment.sh [runs=10]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
started_services=0
if [ -z "${PULSE_SERVER:-}" ]; then
  eval "$("$root/scripts/test-services.sh" start)"
  started_services=1
fi
cleanup() { [ "$started_services" = 1 ] && "$root/scripts/test-services.sh" stop; }
trap cleanup EXIT
node "$root/bench/audio/alignment.js" "${1:-10}" | grep -v 'meta.json"$'
