#!/usr/bin/env bash
# A moving scene for a headless display: a test pattern window and a wandering pointer.
set -u
ffplay -loglevel quiet -an -noborder -left 0 -top 0 -x 1920 -y 1080 \
  -f lavfi -i "testsrc2=size=1280x720:rate=30" &
player=$!
# ffplay can hang in its own exit on SIGTERM, window and all: it is killed outright.
trap 'kill -KILL $player 2>/dev/null' EXIT
i=0
while kill -0 $player 2>/dev/null; do
  x=$(( 200 + (i * 37) % 1500 )); y=$(( 150 + (i * 23) % 800 ))
  xdotool mousemove "$x" "$y" 2>/dev/null
  i=$((i + 1))
  sleep 0.05
done
