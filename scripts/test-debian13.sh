#!/usr/bin/env bash
# The packed package on Debian 13 (trixie), whose libraries differ from the prebuild's (FFmpeg 7.1,
# spdlog 1.15, ...): in a chroot made by scripts/debian13-chroot.sh (cached under build/debian13),
#  1. without FFmpeg's development packages (hidden from pkg-config) `npm install` fails and names
#     the missing libraries and the packages to install;
#  2. with them it builds the add-on from source by itself, and `npx desktracks record` records
#     3 s on an Xvfb and a PulseAudio inside the chroot: files checked against the wall clock.
# Needs root and the npm registry. Minutes even with the chroot cached (the add-on compiles from
# scratch there), so it is a lane of its own, not part of scripts/test.sh.
#   bash scripts/test-debian13.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
chroot_dir=$(bash scripts/debian13-chroot.sh ensure)
inside() { bash scripts/debian13-chroot.sh run "$@"; }
trap 'inside sh -c "kill \$(cat /tmp/dt/xvfb.pid /tmp/dt/pulse.pid 2>/dev/null) 2>/dev/null; true"; bash scripts/debian13-chroot.sh umount' EXIT

# The package as users get it (prepack gathers the prebuilds and vendor/).
[ -f build/Release/desktracks.node ] && [ -f build-win/Release/desktracks.node ] || {
  echo "build both platforms first (node scripts/build.js; node scripts/build.js --win)" >&2; exit 1; }
rm -rf "$chroot_dir/tmp/dt"
mkdir -p "$chroot_dir/tmp/dt/app"
tarball=$(npm pack --silent --pack-destination "$chroot_dir/tmp/dt" | tail -n 1)
echo '{"name":"app","version":"1.0.0","private":true}' > "$chroot_dir/tmp/dt/app/package.json"
failures=0
check() {  # description, command...
  local what=$1
  shift
  if "$@"; then echo "ok - $what"; else echo "not ok - $what"; failures=$((failures + 1)); fi
}

echo "== install without FFmpeg's development packages"
inside sh -c "mkdir -p /tmp/dt/nopc && cd /tmp/dt/app && PKG_CONFIG_PATH= PKG_CONFIG_LIBDIR=/tmp/dt/nopc \
  npm install --no-audit --no-fund /tmp/dt/$tarball" > "$chroot_dir/tmp/dt/install-missing.log" 2>&1 && missing_rc=0 || missing_rc=$?
check "the install fails" test "$missing_rc" -ne 0
check "the error names the missing libraries and their packages" \
  grep -q "missing libavcodec, libavformat, libavutil, libswscale" "$chroot_dir/tmp/dt/install-missing.log"
check "... and the command that installs them" \
  grep -q "apt-get install --no-install-recommends libavcodec-dev libavformat-dev libavutil-dev libswscale-dev" \
  "$chroot_dir/tmp/dt/install-missing.log"
grep "desktracks:" "$chroot_dir/tmp/dt/install-missing.log" | head -n 5 || true

echo "== install with them: builds from source"
start=$(date +%s)
inside sh -c "cd /tmp/dt/app && rm -rf node_modules package-lock.json && npm install --no-audit --no-fund --foreground-scripts /tmp/dt/$tarball" \
  > "$chroot_dir/tmp/dt/install.log" 2>&1 && install_rc=0 || install_rc=$?
echo "install took $(( $(date +%s) - start )) s"
check "npm install succeeds" test "$install_rc" -eq 0
check "the prebuild does not load and the add-on is built from source" \
  grep -q "desktracks: built from source" "$chroot_dir/tmp/dt/install.log"
grep "desktracks:" "$chroot_dir/tmp/dt/install.log" || tail -n 20 "$chroot_dir/tmp/dt/install.log"

echo "== record 3 s inside the chroot"
cat > "$chroot_dir/tmp/dt/ci.pa" <<'PA'
load-module module-native-protocol-unix auth-anonymous=1
load-module module-null-sink sink_name=speaker
load-module module-null-sink sink_name=micsrc
load-module module-remap-source master=micsrc.monitor source_name=virtmic source_properties=device.description=VirtualMic
set-default-sink speaker
set-default-source virtmic
PA
inside sh -c 'cd /tmp/dt && mkdir -p rt && chmod 700 rt && (Xvfb :71 -screen 0 1280x720x24 -nolisten tcp >xvfb.log 2>&1 & echo $! > xvfb.pid) &&
  XDG_RUNTIME_DIR=/tmp/dt/rt HOME=/tmp/dt pulseaudio --daemonize=yes --exit-idle-time=-1 -n -F /tmp/dt/ci.pa --log-target=file:/tmp/dt/pulse.log >/dev/null 2>&1;
  sleep 1; cat /tmp/dt/rt/pulse/pid > pulse.pid 2>/dev/null; true'
inside sh -c 'cd /tmp/dt/app && export DISPLAY=:71 PULSE_SERVER=unix:/tmp/dt/rt/pulse/native &&
  (pacat -p -d micsrc --rate=16000 --channels=1 --format=s16le /dev/zero & echo $! > /tmp/dt/feeder.pid) &&
  npx desktracks record rec --seconds 3; rc=$?; kill $(cat /tmp/dt/feeder.pid); exit $rc' \
  > "$chroot_dir/tmp/dt/record.log" 2>&1 && record_rc=0 || record_rc=$?
cat "$chroot_dir/tmp/dt/record.log"
rec="$chroot_dir/tmp/dt/app/rec"
check "the recording succeeds" test "$record_rc" -eq 0
duration() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
near3() { awk -v d="$1" 'BEGIN { exit !(d > 2.5 && d < 3.5) }'; }
for f in output.mp4 mivox.wav output.wav; do
  d=$(duration "$rec/$f" 2>/dev/null || echo 0)
  check "$f lasts about 3 s ($d s)" near3 "$d"
done
check "every track is recorded in tracks.json" \
  node -e 'const t = require(process.argv[1]).tracks; process.exit(t.every((x) => x.status === "recorded") && t.length === 4 ? 0 : 1)' "$rec/tracks.json"
check "the log has no error line" sh -c "! grep -q '\\[error\\]' '$rec/recorder.log'"

total=$(( 3 + 2 + 6 ))
echo "$((total - failures)) passed, $failures failed"
[ "$failures" = 0 ]
