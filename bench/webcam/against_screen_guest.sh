#!/usr/bin/env bash
# The guest half of bench/webcam/against_screen.sh (see there): a private Xvfb, vivid at 320x180,
# one recording of the screen and the webcam while flip_scene turns both black and white together;
# the files the host lays against each other are copied to the results share.
set -euo pipefail
seconds=$1
flip=$2
keep=/results/keep
mkdir -p "$keep"
work=$(mktemp -d)
dev=/dev/video0
v4l2-ctl -d $dev -c osd_text_mode=2 --set-fmt-video=width=320,height=180,pixelformat=YUYV --set-parm=30
Xvfb :7 -screen 0 320x240x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=:7
for _ in $(seq 100); do xsetroot -solid black 2>/dev/null && break; sleep 0.2; done

node -e '
  const fs = require("fs");
  const path = require("path");
  const { spawn } = require("child_process");
  const { Recorder } = require(".");
  const [dir, seconds, flip, keep] = process.argv.slice(1);
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
  (async () => {
    const recorder = new Recorder();
    recorder.start({ projectDir: dir, webcamIndex: 0 });
    // Flips start once both files are being written (vivid lists its types slowly here).
    for (let waited = 0; waited < 120000 && !["webcam.mp4", "output.mp4"].every((f) => fs.existsSync(path.join(dir, f))); waited += 200) await sleep(200);
    await sleep(3000);
    const flipper = spawn(flip, ["/dev/video0", "1", seconds, path.join(keep, "flips.log")], { stdio: "inherit" });
    const code = await new Promise((resolve) => flipper.on("exit", resolve));
    await sleep(1500);
    recorder.end();
    for (const f of ["output.mp4", "webcam.mp4", "tracks.json", "recorder.log"]) fs.copyFileSync(path.join(dir, f), path.join(keep, f));
    process.exit(code);
  })();' "$work/project" "$seconds" "$flip" "$keep"
