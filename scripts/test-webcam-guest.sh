#!/usr/bin/env bash
# Runs the webcam tests against a real V4L2 driver and the audio clock tests against a real
# drifting sound card: Debian 12's stock kernel with the vivid virtual camera and the snd-aloop
# loopback card, booted in QEMU with this machine's root file system shared read-only (the
# guest runs this machine's node, ffprobe and the built add-on). Without arguments it runs
# test/guest/*.test.js; otherwise the given command line, from the repository root.
# Downloads (once, into build/guest/): the kernel package; installs qemu and busybox.
set -euo pipefail
echo "== Webcam tests against vivid and drifting microphones against snd-aloop in a QEMU guest"
root=$(cd "$(dirname "$0")/.." && pwd)
cache="$root/build/guest"
mkdir -p "$cache"

. "$root/scripts/packages.sh"
install_missing guest qemu-system-x86 qemu-system-data busybox-static v4l-utils alsa-utils

# The stock kernel and its modules, unpacked (nothing is installed into /boot).
find_kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}'; }
if [ -z "$(find_kernel_package)" ]; then as_root apt-get update -qq; fi
kernel_pkg=$(find_kernel_package)
[ -n "$kernel_pkg" ] || { echo "[guest] no linux-image-amd64 in the package lists" >&2; exit 1; }
version=${kernel_pkg#linux-image-}
kroot="$cache/kernel-$version"
if [ ! -f "$kroot/boot/vmlinuz-$version" ]; then
  echo "[guest] fetching $kernel_pkg"
  rm -rf "$kroot" "$cache"/linux-image-*.deb
  (cd "$cache" && as_root apt-get download -qq "$kernel_pkg" 2>/dev/null)
  dpkg-deb -x "$cache/$kernel_pkg"_*.deb "$kroot"
  rm -f "$cache/$kernel_pkg"_*.deb
fi

# An initramfs with static BusyBox, the init script and only the modules it loads.
initrd="$cache/initramfs-$version.cpio.gz"
if [ ! -f "$initrd" ] || [ "$root/test/guest/init.sh" -nt "$initrd" ]; then
  echo "[guest] building the initramfs"
  busybox depmod -b "$kroot" "$version"
  tree="$cache/initramfs"
  rm -rf "$tree"
  mkdir -p "$tree"/{bin,proc,sys,dev,lib/modules/"$version"}
  cp /bin/busybox "$tree/bin/busybox"
  cp "$root/test/guest/init.sh" "$tree/init"
  chmod +x "$tree/init"
  dep="$kroot/lib/modules/$version/modules.dep"
  want=(virtio_pci 9pnet_virtio 9p overlay vivid snd-aloop)
  files=()
  for m in "${want[@]}"; do
    line=$(grep -E "(^|/)$m\.ko:" "$dep")
    files+=(${line%%:*} ${line#*:})
  done
  for f in $(printf '%s\n' "${files[@]}" | sort -u); do
    mkdir -p "$tree/lib/modules/$version/$(dirname "$f")"
    cp "$kroot/lib/modules/$version/$f" "$tree/lib/modules/$version/$f"
  done
  busybox depmod -b "$tree" "$version"
  (cd "$tree" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) > "$initrd.tmp"
  mv "$initrd.tmp" "$initrd"
fi

# The command and its environment go through a read-write share; so do its output and status.
# One folder per run, so that runs side by side do not mix.
run=$(mktemp -d "$cache/run.XXXXXX")
trap 'rm -rf "$run"' EXIT
if [ $# -gt 0 ]; then
  printf '%q ' "$@" > "$run/command"
else
  echo 'node --test --test-concurrency=1 --test-timeout=1800000 test/guest/*.test.js' > "$run/command"
fi
{
  printf 'export GUEST_CWD=%q\n' "$root"
  printf 'export PATH=%q HOME=/tmp DESKTRACKS_GUEST=1\n' "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"
} > "$run/env"

# Hardware virtualisation only where the CPU offers it; software emulation otherwise.
accel="tcg,thread=multi"
if [ -w /dev/kvm ] && grep -qE '\b(vmx|svm)\b' /proc/cpuinfo && ! grep -q '^kvm_pvm ' /proc/modules 2>/dev/null; then
  accel=kvm
fi
started=$(date +%s)
timeout "${GUEST_TIMEOUT:-2000}" qemu-system-x86_64 -accel "$accel" -cpu max -smp 2 -m 768 \
  -bios /usr/share/qemu/qboot.rom -nographic -no-reboot -monitor none -serial "file:$run/console" \
  -kernel "$kroot/boot/vmlinuz-$version" -initrd "$initrd" \
  -append "console=ttyS0 quiet panic=-1 rdinit=/init" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=$run,mount_tag=results,security_model=none" || true
cat "$run/output" 2>/dev/null || true
# Files a bench's guest half left in the share's keep/ folder, for the host to read.
if [ -n "${GUEST_KEEP:-}" ] && [ -d "$run/keep" ]; then cp -r "$run/keep/." "$GUEST_KEEP/"; fi
status=$(cat "$run/status" 2>/dev/null || echo 1)
echo "[guest] finished with status $status after $(( $(date +%s) - started )) s"
if [ ! -f "$run/status" ]; then
  echo "[guest] no status came back; the guest console ends with:"
  tail -n 30 "$run/console" || true
fi
exit "$status"
