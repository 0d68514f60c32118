#!/usr/bin/env bash
# Cursor images' cost, side by side: a burst of moves along a row of windows whose cursors differ
# (a cursor change every 20 moves), recorded with cursor images on and off in alternating rounds.
# Prints per round the changes kept, the cursor image thread's CPU per change and the move-to-
# record latency (p50, p99, max). Needs a build (BUILD_DIR=... to pick another than build/).
# Uses $DISPLAY when set, otherwise starts the test services and stops them again.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$root/${BUILD_DIR:-build}" && pwd)
rounds=${ROUNDS:-3}
work=$(mktemp -d)
trap 'kill "${windows_pid:-0}" 2>/dev/null || true; rm -rf "$work"; [ -n "${own_services:-}" ] && "$root/scripts/test-services.sh" stop "$own_services"' EXIT

if [ -z "${DISPLAY:-}" ]; then
  eval "$("$root/scripts/test-services.sh" start)"
  own_services=$DESKTRACKS_SERVICES_DIR
fi
cc -O2 "$root/bench/input/inject_moves.c" $(pkg-config --libs x11 xtst) -o "$work/inject_moves"
cc -O2 "$root/test/js/input-helpers/cursor_windows.c" -lXcursor -lX11 -o "$work/cursor_windows"

# inject_moves walks y = 100 from x = 100 on: 20-pixel windows along it, their cursors cycling.
patterns=(red half offcentre)
specs=()
for i in $(seq 0 84); do specs+=("$((100 + i * 20)),90,20,20,${patterns[$((i % 3))]}"); done
# The helper stays until its standard input closes: a FIFO this script holds open.
mkfifo "$work/hold"
"$work/cursor_windows" "${specs[@]}" < "$work/hold" > "$work/windows.out" &
windows_pid=$!
exec 3>"$work/hold"
for _ in $(seq 1 100); do grep -q ready "$work/windows.out" 2>/dev/null && break; sleep 0.05; done

echo "== $rounds rounds of 2000 moves 1 ms apart, cursor images on and off alternately (load: $(cut -d' ' -f1-3 /proc/loadavg))"
for round in $(seq 1 "$rounds"); do
  for mode in on off; do
    DESKTRACKS_ADDON_PATH="$build/Release/desktracks.node" node "$root/bench/input/cursor_images.js" "$work/inject_moves" "$mode" 2>/dev/null | grep -v '^"'
  done
done
