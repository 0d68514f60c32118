#!/usr/bin/env bash
# Makes (once) and keeps a Debian 13 (trixie) chroot with Node, npm, a compiler, CMake and the
# development packages a user would install, to try the packed package on a distribution whose
# libraries differ from the prebuilt binary's. Needs root. The chroot is cached in
# DESKTRACKS_CHROOT (default build/debian13) and reused by later runs.
#
#   scripts/debian13-chroot.sh ensure        # create or complete it; prints its path
#   scripts/debian13-chroot.sh run CMD...    # run a command inside (with /proc, /dev mounted)
#   scripts/debian13-chroot.sh umount        # unmount them again (before removing the folder!)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dir=${DESKTRACKS_CHROOT:-$root/build/debian13}
. "$root/scripts/packages.sh"

log() { printf '[debian13] %s\n' "$*" >&2; }

# What a developer's Debian 13 desktop would have for building a Node add-on from source.
build_tools=(nodejs npm cmake g++ make pkg-config ca-certificates)
dev_packages=(
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libyuv-dev
  libspdlog-dev libfmt-dev nlohmann-json3-dev libminiaudio-dev
  libx11-dev libxext-dev libxfixes-dev libxdamage-dev libxrandr-dev libxtst-dev libxcursor-dev libpulse-dev
)
# To record inside: a display, a sound server and ffprobe for the checks.
services=(xvfb pulseaudio pulseaudio-utils ffmpeg)

mounted() { grep -q " $dir/$1 " /proc/mounts; }

mount_all() {
  mounted proc || mount -t proc proc "$dir/proc"
  mounted dev || mount --bind /dev "$dir/dev"
  mounted dev/pts || mount --bind /dev/pts "$dir/dev/pts" 2>/dev/null || true
}

umount_all() {
  for m in dev/pts dev proc; do mounted "$m" && umount -l "$dir/$m" || true; done
}

run_inside() {
  mount_all
  chroot "$dir" env -i HOME=/root PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

ensure() {
  install_missing debian13 debootstrap
  if [ ! -f "$dir/.bootstrapped" ]; then
    local mirror
    mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null \
      | grep -oE 'https?://[^ ]+/debian/?( |$)' | grep -v security | head -n 1 | tr -d ' ' || true)
    [ -n "$mirror" ] || mirror="http://deb.debian.org/debian"
    log "debootstrap trixie from $mirror into $dir (minutes)"
    umount_all
    rm -rf "$dir"
    mkdir -p "$dir"
    debootstrap --variant=minbase trixie "$dir" "$mirror" >"$dir.debootstrap.log" 2>&1 \
      || { tail -n 20 "$dir.debootstrap.log" >&2; exit 1; }
    touch "$dir/.bootstrapped"
  fi
  # The machine's own certificate authorities, so npm inside reaches the registry as outside.
  if compgen -G "/usr/local/share/ca-certificates/*.crt" >/dev/null; then
    mkdir -p "$dir/usr/local/share/ca-certificates"
    cp /usr/local/share/ca-certificates/*.crt "$dir/usr/local/share/ca-certificates/"
  fi
  cp /etc/resolv.conf "$dir/etc/resolv.conf" 2>/dev/null || true
  if [ ! -f "$dir/.packages" ] || ! run_inside dpkg -s "${dev_packages[@]}" >/dev/null 2>&1; then
    log "installing Node, npm, build tools, development packages and services (minutes)"
    run_inside apt-get update -qq
    run_inside apt-get install -y -qq --no-install-recommends "${build_tools[@]}" "${dev_packages[@]}" "${services[@]}" \
      >"$dir.apt.log" 2>&1 || { tail -n 20 "$dir.apt.log" >&2; exit 1; }
    touch "$dir/.packages"
  fi
  run_inside update-ca-certificates >/dev/null 2>&1 || true
  umount_all
  echo "$dir"
}

case "${1:-}" in
  ensure) ensure ;;
  run) shift; run_inside "$@" ;;
  umount) umount_all ;;
  *) echo "usage: $0 ensure | run CMD... | umount" >&2; exit 2 ;;
esac
