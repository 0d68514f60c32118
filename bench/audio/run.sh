#!/usr/bin/env bash
# Builds bench/audio/audio_bench.cpp against a built core library and runs it against the
# private PulseAudio of scripts/test-services.sh while tones play into the microphone and the
# speaker.
#
#   bench/audio/run.sh [seconds=30] [build dir=build]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-30}
build=${2:-$root/build}
out=$(mktemp -d /tmp/desktracks-audio-bench.XXXXXX)

started_services=0
if [ -z "${PULSE_SERVER:-}" ]; then
  eval "$("$root/scripts/test-services.sh" start)"
  started_services=1
fi
cleanup() {
  [ -n "${tone_pids:-}" ] && kill $tone_pids 2>/dev/null || true
  [ "$started_services" = 1 ] && "$root/scripts/test-services.sh" stop
  rm -rf "$out"
}
trap cleanup EXIT

g++ -std=c++17 -O2 -I"$root/include" -I"$root/src" -isystem "$root/third_party/trixie/usr/include" \
  "$here/audio_bench.cpp" "$build/libdesktracks_core.a" \
  $(pkg-config --libs spdlog fmt) -lpthread -ldl -lm -o "$out/audio_bench"

# Continuous tones: 440 Hz into the microphone's source sink, 1000 Hz into the default sink.
sox -q -n -t raw -r 16000 -c 1 -b 16 -e signed - synth $((seconds + 5)) sine 440 vol 0.5 |
  pacat -p -d micsrc --rate=16000 --channels=1 --format=s16le --latency-msec=20 &
tone_pids="$!"
sox -q -n -t raw -r 48000 -c 2 -b 16 -e signed - synth $((seconds + 5)) sine 1000 vol 0.5 |
  pacat -p -d speaker --rate=48000 --channels=2 --format=s16le --latency-msec=20 &
tone_pids="$tone_pids $!"
sleep 0.5

"$out/audio_bench" "$out/project" VirtualMic "$seconds"
