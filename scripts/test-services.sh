#!/usr/bin/env bash
# Starts or stops the services that the tests and the headless demo need: an Xvfb display
# (1920x1080x24, or DESKTRACKS_SCREEN_SIZE such as 3840x2160) and a private PulseAudio daemon
# with a default "speaker" null sink and a virtual microphone ("virtmic", fed from the "micsrc"
# null sink). Each start gets its own display number
# and runtime folder, so several runs can share one machine.
#
#   eval "$(scripts/test-services.sh start [--scene])"   # exports DISPLAY, PULSE_SERVER, ...
#   scripts/test-services.sh stop                        # stops what that start started
#   scripts/test-services.sh restart-pulse               # PulseAudio again, after a test killed it
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)

# Starts the PulseAudio daemon of the services in `dir` (again, after it died: the same socket,
# sinks and virtual microphone, as a restarted sound server comes back on a user's machine).
start_pulse() {
  local dir=$1
  local pulse_env=(env XDG_RUNTIME_DIR="$dir/runtime" HOME="$dir/home" PULSE_RUNTIME_PATH="$dir/runtime/pulse")
  "${pulse_env[@]}" pulseaudio --daemonize=yes --system=false --exit-idle-time=-1 --disallow-exit=yes \
    -n -F "$dir/ci.pa" --realtime=false --high-priority=false \
    --log-target=file:"$dir/pulse.log" --use-pid-file=yes >/dev/null 2>&1 || true
  local server="unix:$dir/runtime/pulse/native"
  for _ in $(seq 1 100); do
    PULSE_SERVER="$server" pactl info >/dev/null 2>&1 && break
    sleep 0.05
  done
  PULSE_SERVER="$server" pactl info >/dev/null 2>&1 || { echo "PulseAudio did not start: $(tail -n 5 "$dir/pulse.log")" >&2; exit 1; }
  cp "$dir/runtime/pulse/pid" "$dir/pulse.pid" 2>/dev/null || pgrep -n -f "pulseaudio.*$dir" > "$dir/pulse.pid"
}

start() {
  local scene=0
  [ "${1:-}" = "--scene" ] && scene=1
  local dir
  dir=$(mktemp -d /tmp/desktracks-services.XXXXXX)
  mkdir -p "$dir/runtime" "$dir/home"
  chmod 700 "$dir/runtime"

  # Xvfb picks a free display number itself and writes it to fd 3.
  Xvfb -displayfd 3 -screen 0 "${DESKTRACKS_SCREEN_SIZE:-1920x1080}x24" -nolisten tcp +extension RANDR 3>"$dir/display" \
    >"$dir/xvfb.log" 2>&1 &
  echo $! > "$dir/xvfb.pid"
  for _ in $(seq 1 100); do [ -s "$dir/display" ] && break; sleep 0.05; done
  [ -s "$dir/display" ] || { echo "Xvfb did not start: $(cat "$dir/xvfb.log")" >&2; exit 1; }
  local display=":$(head -n1 "$dir/display")"

  cat > "$dir/ci.pa" <<'PA'
load-module module-native-protocol-unix auth-anonymous=1
load-module module-null-sink sink_name=speaker sink_properties=device.description=Speaker
load-module module-null-sink sink_name=micsrc sink_properties=device.description=MicSource
load-module module-remap-source master=micsrc.monitor source_name=virtmic source_properties=device.description=VirtualMic
set-default-sink speaker
set-default-source virtmic
PA
  start_pulse "$dir"
  local server="unix:$dir/runtime/pulse/native"

  if [ "$scene" = 1 ]; then
    DISPLAY="$display" "$here/test-scene.sh" >/dev/null 2>&1 &
    echo $! > "$dir/scene.pid"
  fi

  echo "export DESKTRACKS_SERVICES_DIR='$dir'"
  echo "export DISPLAY='$display'"
  echo "export PULSE_SERVER='$server'"
  echo "export XDG_RUNTIME_DIR='$dir/runtime'"
}

stop() {
  local dir="${DESKTRACKS_SERVICES_DIR:-${1:-}}"
  [ -n "$dir" ] && [ -d "$dir" ] || return 0
  for name in scene pulse xvfb; do
    if [ -s "$dir/$name.pid" ]; then
      local pid
      pid=$(cat "$dir/$name.pid")
      pkill -TERM -P "$pid" 2>/dev/null || true
      kill -TERM "$pid" 2>/dev/null || true
    fi
  done
  sleep 0.2
  for name in scene pulse xvfb; do
    [ -s "$dir/$name.pid" ] && kill -KILL "$(cat "$dir/$name.pid")" 2>/dev/null || true
  done
  rm -rf "$dir"
}

# Starts the PulseAudio daemon again once it has died (a test killed it).
restart_pulse() {
  local dir="${DESKTRACKS_SERVICES_DIR:-${1:-}}"
  [ -n "$dir" ] && [ -d "$dir" ] || { echo "no services folder" >&2; exit 2; }
  local pid
  pid=$(cat "$dir/pulse.pid")
  kill -KILL "$pid" 2>/dev/null || true
  # Until it is reaped the dead daemon is a zombie, which its pid file check takes for a live one.
  for _ in $(seq 1 40); do
    grep -qs '^State:.*[RSD]' "/proc/$pid/status" || break
    sleep 0.05
  done
  rm -f "$dir/runtime/pulse/pid"
  start_pulse "$dir"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  restart-pulse) shift; restart_pulse "$@" ;;
  stop) shift; stop "$@" ;;
  *) echo "usage: $0 start [--scene] | stop [dir] | restart-pulse [dir]" >&2; exit 2 ;;
esac
