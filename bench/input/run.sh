#!/usr/bin/env bash
# Input track figures: the dispatch procedure's cost per event and the latency from an injected
# move to its record. Needs a build (default build/; BUILD_DIR=... to pick another). Uses
# $DISPLAY when set, otherwise starts the test services and stops them again.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$root/${BUILD_DIR:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"; [ -n "${own_services:-}" ] && "$root/scripts/test-services.sh" stop "$own_services"' EXIT

if [ -z "${DISPLAY:-}" ]; then
  eval "$("$root/scripts/test-services.sh" start)"
  own_services=$DESKTRACKS_SERVICES_DIR
fi

includes=(-I"$root/include" -I"$root/src" -isystem "$root/third_party/trixie/usr/include"
  -isystem "$root/third_party/uiohook/libuiohook/include")
c++ -std=c++17 -O2 "${includes[@]}" "$root/bench/input/dispatch_cost.cpp" "$build/libdesktracks_core.a" \
  $(pkg-config --libs x11 xfixes xcursor) -lspdlog -lfmt -lpthread -ldl -o "$work/dispatch_cost"
cc -O2 "$root/bench/input/inject_moves.c" $(pkg-config --libs x11 xtst) -o "$work/inject_moves"

echo "== dispatch procedure cost per event (20000 synthetic events, display $DISPLAY)"
"$work/dispatch_cost"
echo "== burst of moves: 2000 moves 0.5 ms apart"
DESKTRACKS_ADDON_PATH="$build/Release/desktracks.node" node "$root/bench/input/latency.js" "$work/inject_moves" 2000 500 2>/dev/null | grep -v '^"'
echo "== paced moves: 300 moves 12 ms apart"
DESKTRACKS_ADDON_PATH="$build/Release/desktracks.node" node "$root/bench/input/latency.js" "$work/inject_moves" 300 12000 2>/dev/null | grep -v '^"'
