#!/usr/bin/env bash
# Prepares a Debian 12 machine (as root) to build and test desktracks. Safe to run again.
#  - system packages from bookworm
#  - header-only miniaudio and nlohmann-json from Debian 13, unpacked into third_party/
#    through a private apt configuration (the system's apt sources are never touched)
#  - libuiohook sources from the npm package uiohook-napi
#  - npm dependencies
#  - in a checkout, Wine and (scripts/setup-windows.sh) node.exe for the Windows test lane
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
third="$root/third_party"
mkdir -p "$third"

log() { printf '[setup] %s\n' "$*"; }

. "$root/scripts/packages.sh"

packages=(
  build-essential cmake pkg-config ca-certificates
  libspdlog-dev libfmt-dev libgtest-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libyuv-dev
  libx11-dev libxext-dev libxfixes-dev libxdamage-dev libxrandr-dev libxtst-dev libxcursor-dev
  xvfb x11-utils x11-xserver-utils xdotool xcursor-themes adwaita-icon-theme fonts-dejavu-core weston xwayland
  pulseaudio pulseaudio-utils libpulse-dev sox ffmpeg
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
)
# The Windows test lane, in a checkout (the npm package holds no tests): Wine 8 with the X11 and
# OpenGL libraries its user32 and Direct3D 11 use.
windows_lane=0
[ -d "$root/test/win" ] && windows_lane=1
if [ "$windows_lane" = 1 ]; then
  packages+=(wine wine64 libgl1 libgl1-mesa-dri libxcursor1 libxrandr2 libxi6 libxrender1 libxcomposite1 libxinerama1 libxxf86vm1)
fi

install_missing setup "${packages[@]}"

# Header-only libraries from Debian 13 (trixie), with an apt configuration of our own.
if [ ! -f "$third/trixie/usr/include/miniaudio.h" ] || [ ! -f "$third/trixie/usr/include/nlohmann/json.hpp" ]; then
  log "fetching libminiaudio-dev and nlohmann-json3-dev from trixie"
  apt_dir="$third/apt"
  rm -rf "$apt_dir" "$third/trixie"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/etc" "$third/debs" "$third/trixie"
  mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null \
    | grep -oE 'https?://[^ ]+/debian/?( |$)' | grep -v security | head -n 1 | tr -d ' ' || true)
  [ -n "$mirror" ] || mirror="http://deb.debian.org/debian"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] ${mirror%/} trixie main" > "$apt_dir/etc/sources.list"
  cat > "$apt_dir/apt.conf" <<CONF
Dir::Etc::SourceList "$apt_dir/etc/sources.list";
Dir::Etc::SourceParts "$apt_dir/etc/sources.list.d";
Dir::State::Lists "$apt_dir/lists";
Dir::State::status "/dev/null";
Dir::Cache "$apt_dir/cache";
APT::Sandbox::User "root";
Acquire::Languages "none";
Acquire::IndexTargets::deb::Contents-deb::DefaultEnabled "false";
Acquire::IndexTargets::deb::Contents-udeb::DefaultEnabled "false";
Acquire::IndexTargets::deb::Contents-deb-legacy::DefaultEnabled "false";
CONF
  mkdir -p "$apt_dir/etc/sources.list.d"
  export APT_CONFIG="$apt_dir/apt.conf"
  as_root apt-get update -qq
  (cd "$third/debs" && as_root apt-get download -qq libminiaudio-dev nlohmann-json3-dev)
  unset APT_CONFIG
  for deb in "$third"/debs/*.deb; do dpkg -x "$deb" "$third/trixie"; done
  rm -rf "$apt_dir"
fi
ma_h="$third/trixie/usr/include/miniaudio.h"
log "miniaudio $(grep -E '#define MA_VERSION_(MAJOR|MINOR|REVISION)' "$ma_h" | awk '{printf "%s.", $3}' | sed 's/\.$//'), nlohmann-json $(grep -E '#define NLOHMANN_JSON_VERSION_(MAJOR|MINOR|PATCH)' "$third/trixie/usr/include/nlohmann/detail/abi_macros.hpp" | awk '{printf "%s.", $3}' | sed 's/\.$//')"

# libuiohook's C sources, as shipped inside the npm package (built by CMake as our own library).
if [ ! -f "$third/uiohook/libuiohook/include/uiohook.h" ]; then
  log "fetching uiohook-napi@1.5.5 sources"
  rm -rf "$third/uiohook" "$third/uiohook-pack"
  mkdir -p "$third/uiohook-pack" "$third/uiohook"
  (cd "$third/uiohook-pack" && npm pack --silent uiohook-napi@1.5.5 >/dev/null)
  tar -xzf "$third"/uiohook-pack/uiohook-napi-1.5.5.tgz -C "$third/uiohook" --strip-components=1 package/libuiohook
  rm -rf "$third/uiohook-pack"
fi

# The Windows node.exe for the Windows test lane.
if [ "$windows_lane" = 1 ]; then
  bash "$root/scripts/setup-windows.sh"
fi

cd "$root"
if [ ! -d node_modules/node-addon-api ] || [ ! -d node_modules/node-api-headers ] || [ ! -d node_modules/@napi-rs/canvas ]; then
  log "npm ci"
  npm ci --no-audit --no-fund --silent
fi
log "ready"
