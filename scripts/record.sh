#!/usr/bin/env bash
# The main job: sets up, builds, records a few seconds of the desktop into a project directory
# with the desktracks command, which ends with a table of every file, then draws overview.png.
# Without $DISPLAY it starts its own Xvfb and PulseAudio with a moving test scene, so it also
# works on a bare server.
#   bash scripts/record.sh [projectDir] [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh >/dev/null
node scripts/build.js >/dev/null

if [ -z "${DISPLAY:-}" ]; then
  eval "$(scripts/test-services.sh start --scene)"
  trap 'scripts/test-services.sh stop' EXIT
  sleep 1  # let the scene come up
fi

project="${1:-$root/recordings/$(date +%Y%m%d-%H%M%S)}"
# The webcam too when this machine has a camera.
webcam=()
if node -e 'process.exit(require("./lib").listCameras().length ? 0 : 1)'; then
  webcam=(--webcam 0)
  echo "recording camera 0 into webcam.mp4 too"
else
  echo "no camera found: no webcam track"
fi
node bin/desktracks.js record "$project" --seconds "${2:-5}" "${webcam[@]}"
# record already printed the files table; only the picture is left to draw.
node -e 'const { inspectRecording } = require("./lib/inspect");
console.log(`overview: ${require("./lib/overview").writeOverview(inspectRecording(process.argv[1])).file}`);' "$project"
