#!/usr/bin/env bash
# Checks that the win32-x64 prebuild of a packed desktracks loads in Windows Node under Wine: the
# package is unpacked (no build trees beside it), and its own loader must find
# prebuilds/win32-x64/desktracks.node, and a 1 s recording must load uiohook.dll from its folder.
#   NODE_EXE=/path/to/node.exe scripts/check-win-prebuild.sh [desktracks-<version>.tgz] [video.mp4]
# Without a tarball it packs one. Uses the caller's WINEPREFIX (a Windows 10 prefix) and DISPLAY.
# With a video (one the Linux build recorded), its facts and three frames are also read through
# the Media Foundation source reader; Wine decodes H.264 through GStreamer (Debian packages
# gstreamer1.0-plugins-base, -good and gstreamer1.0-libav).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
: "${NODE_EXE:?set NODE_EXE to a Windows node.exe}"
work=$(mktemp -d /tmp/desktracks-winpkg.XXXXXX)
trap 'rm -rf "$work"' EXIT

tarball="${1:-}"
if [ -z "$tarball" ]; then
  tarball="$work/$(cd "$root" && npm pack --silent --pack-destination "$work" | tail -n 1)"
fi
tar -xzf "$tarball" -C "$work"
video="${2:-}"
[ -z "$video" ] || cp "$video" "$work/package/video.mp4"

cat > "$work/package/check.js" <<'JS'
const fs = require('fs');
const result = {};
try {
  const { loadAddon, addonCandidates } = require('./lib/load-addon');
  result.candidates = addonCandidates();
  const addon = loadAddon();
  result.exports = Object.keys(addon);
  // A short recording makes the add-on open uiohook.dll from its own folder.
  const recorder = new addon.Recorder();
  recorder.start({ projectDir: 'take', micIndex: -1, systemAudioIndex: -1 });
  const until = Date.now() + 1000;
  while (Date.now() < until);
  recorder.end();
  result.log = fs.readFileSync('take/recorder.log', 'utf8').split('\n').filter(Boolean);
  result.status = addon.getStatus();
  if (fs.existsSync('video.mp4')) {
    const video = addon.readVideoFrames('video.mp4', [0, 500, 1000], 160);
    result.video = { ...video, frames: video.frames.map((f) => ({ timeMs: f.timeMs, width: f.width, height: f.height })) };
    result.videoOk = video.frames.length === 3 && video.frames.every((f) => f.width === 160 && f.data.length === 160 * f.height * 4);
  }
} catch (err) {
  result.error = err.message;
}
fs.writeFileSync('check-result.json', JSON.stringify(result, null, 2));
JS
# Windows node's standard output must not be a pipe under Wine: results go through a file.
(cd "$work/package" && WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine "$NODE_EXE" check.js >"$work/wine.out" 2>&1) || true
if [ ! -f "$work/package/check-result.json" ]; then
  echo "win32-x64 prebuild: Windows node did not run: $(tail -n 5 "$work/wine.out")" >&2
  exit 1
fi
cat "$work/package/check-result.json"
if ! grep -q '"Recorder"' "$work/package/check-result.json"; then
  echo "win32-x64 prebuild: did not load" >&2
  exit 1
fi
if grep -q 'input hook could not start.*uiohook' "$work/package/check-result.json"; then
  echo "win32-x64 prebuild: uiohook.dll did not load" >&2
  exit 1
fi
if [ -n "$video" ] && ! grep -q '"videoOk": true' "$work/package/check-result.json"; then
  echo "win32-x64 prebuild: the video's frames were not read" >&2
  exit 1
fi
echo "win32-x64 prebuild: loads under Wine${video:+, reads video frames}"
