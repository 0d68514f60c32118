#!/usr/bin/env bash
# Sets up, builds (this machine and the Windows cross-build) and runs every test against real
# services: a private Xvfb display and a private PulseAudio daemon.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
DESKTRACKS_WERROR=ON node scripts/build.js
DESKTRACKS_WERROR=ON node scripts/build.js --win

eval "$(scripts/test-services.sh start)"
trap 'scripts/test-services.sh stop' EXIT

status=0
echo "== C++ unit tests"
ctest --test-dir build --output-on-failure --timeout 600 || status=1
echo "== JavaScript tests"
node --test --test-concurrency=1 --test-timeout=600000 test/js/*.test.js || status=1
bash scripts/test-webcam-guest.sh || status=1
bash scripts/test-windows.sh || status=1
exit $status
