#!/usr/bin/env bash
# The main job: sets up, builds, records a few seconds of the desktop into a project directory
# with the desktracks command, which ends with a table of every file, then draws overview.png.
# Without $DISPLAY it starts its own Xvfb and PulseAudio with a moving test scene and a tone in
# both audio tracks, so it also works on a bare server.
#   bash scripts/record.sh [projectDir] [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh >/dev/null
node scripts/build.js >/dev/null

players=()
stop_all() {
  for pid in "${players[@]}"; do kill "$pid" 2>/dev/null || true; done
  scripts/test-services.sh stop
}
if [ -z "${DISPLAY:-}" ]; then
  eval "$(scripts/test-services.sh start --scene)"
  trap stop_all EXIT
  # Sound for both audio tracks, so the live meters and the overview's waveforms show something:
  # a pulsing 440 Hz tone into the virtual microphone's source, a 660 Hz one into the speaker that
  # system audio records.
  play_tone() {  # sink, Hz, pulses a second
    sox -q -n -t raw -r 16000 -c 1 -e signed -b 16 - synth 600 sine "$2" tremolo "$3" 80 vol 0.5 2>/dev/null \
      | pacat -p -d "$1" --rate=16000 --channels=1 --format=s16le 2>/dev/null &
    players+=($!)
  }
  play_tone micsrc 440 2
  play_tone speaker 660 3
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
