#!/usr/bin/env bash
# Finishing large fragmented MP4 files (made with FFmpeg's fragmenting muxer, as the writer makes
# them) side by side: this tree against another build (BEFORE_BUILD=<its build dir>
# BEFORE_SRC=<its source dir>), alternating, with the page cache dropped before each run when the
# system allows it (root). SIZES_GB (default "0.1 1 5"), ROUNDS (default 2), WORK (a directory
# with room for the largest file; default a new one under /tmp, removed at the end).
# Each run finishes the file in place; the harness then puts the fragmented file back as it was
# (the index cut off, the first moov's header restored), so every run starts from the same file.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=${WORK:-$(mktemp -d)}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

libs="$(pkg-config --libs libavformat libavcodec libavutil libswscale x11 xext xfixes xdamage xrandr xcursor) -lyuv -lspdlog -lfmt -lpthread -ldl -lm"
build_harness() {  # <source dir> <build dir> <output>
  c++ -std=c++17 -O2 -I"$1/include" -I"$1/src" -isystem "$root/third_party/trixie/usr/include" \
    "$root/bench/crash/finish_file.cpp" "$2/libdesktracks_core.a" $libs -o "$3"
}
build_harness "$root" "$root/${BUILD_DIR:-build}" "$work/after"
sides=(after)
if [ -n "${BEFORE_BUILD:-}" ]; then
  build_harness "${BEFORE_SRC:?}" "$BEFORE_BUILD" "$work/before"
  sides=(before after)
fi

# A clip of random 1080p pictures coded losslessly (about 3 MB a frame), copied over and over
# into fragments of at most a second.
ffmpeg -v error -y -f lavfi -i "nullsrc=s=1920x1080:r=30,geq=random(1)*255:128:128" -t 3 -c:v libx264 -preset ultrafast -qp 0 \
  -g 60 "$work/clip.mp4"
drop_caches() { sync; echo 3 > /proc/sys/vm/drop_caches 2>/dev/null || echo "   (page cache not dropped)"; }
echo "load: $(cat /proc/loadavg)"
for gb in ${SIZES_GB:-0.1 1 5}; do
  file="$work/fragmented.mp4"
  bytes=$(awk -v g="$gb" 'BEGIN { printf "%.0f", g * 1e9 }')  # mawk's %d stops at 2^31
  # FFmpeg's -stream_loop stops short of 2.3 GB here; a concatenation of enough copies does not.
  copies=$(( bytes / $(stat -c %s "$work/clip.mp4") + 2 ))
  for _ in $(seq "$copies"); do echo "file '$work/clip.mp4'"; done > "$work/clips.txt"
  ffmpeg -v error -y -f concat -safe 0 -i "$work/clips.txt" -c copy -fs "$bytes" -video_track_timescale 10000000 \
    -movflags frag_keyframe+empty_moov+default_base_moof -frag_duration 1000000 "$file"
  size=$(stat -c %s "$file")
  moov_at=$(python3 -c "import sys,struct; f=open(sys.argv[1],'rb'); print(struct.unpack('>I', f.read(4))[0])" "$file")
  head=$(dd if="$file" bs=1 skip="$moov_at" count=16 2>/dev/null | od -An -tx1 | tr -d ' \n')
  echo "== $gb GB: $size bytes"
  for round in $(seq "${ROUNDS:-2}"); do
    for side in "${sides[@]}"; do
      drop_caches
      printf '   %-6s cold  ' "$side"; "$work/$side" "$file" || true
      # Back to the fragmented file: the index cut off, the moov's header as it was.
      truncate -s "$size" "$file"
      printf '%s' "$head" | xxd -r -p | dd of="$file" bs=1 seek="$moov_at" conv=notrunc 2>/dev/null
      printf '   %-6s warm  ' "$side"; "$work/$side" "$file" || true
      truncate -s "$size" "$file"
      printf '%s' "$head" | xxd -r -p | dd of="$file" bs=1 seek="$moov_at" conv=notrunc 2>/dev/null
    done
  done
  rm -f "$file"
done
echo "load: $(cat /proc/loadavg)"
