#!/usr/bin/env bash
# Kills recordings at random moments and measures what each track keeps, before and after
# recover. Usage: bench/crash/run.sh [runs] [seconds]
set -euo pipefail
cd "$(dirname "$0")/../.."
if [[ -z "${DESKTRACKS_SERVICES_DIR:-}" ]]; then
  eval "$(scripts/test-services.sh start)"
  trap 'scripts/test-services.sh stop' EXIT
fi
node bench/crash/kill.js "${1:-20}" "${2:-10}"
