'use strict';
// Choosing the display, end to end on Linux: one Xvfb screen split into two RandR 1.5 monitors
// (xrandr --setmonitor), each showing its own colour and a marker. Each monitor is recorded in
// turn; the video must show that monitor's own picture, and tracks.json's display rectangle must
// map positions.json's desktop coordinates onto the video.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { execFileSync, spawn, spawnSync } = require('child_process');
const { tempDir, readJson, repoRoot } = require('./helpers/project');

const sleep = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);
const kids = [];

// A solid-colour window at a place on the desktop (ffplay with lavfi; no window manager moves it).
function paint(display, colour, x, y, w, h) {
  const player = spawn('ffplay', ['-loglevel', 'quiet', '-an', '-noborder', '-left', String(x), '-top', String(y),
    '-x', String(w), '-y', String(h), '-f', 'lavfi', '-i', `color=c=${colour}:size=${w}x${h}:rate=5`],
  { env: { ...process.env, DISPLAY: display, SDL_AUDIODRIVER: 'dummy' }, stdio: 'ignore' });
  kids.push(player);
}

// Records the display in a child process (the add-on keeps its X connection for the process's life).
function recordDisplay(display, index, dir, pointer) {
  const source = `
    const { Recorder } = require(${JSON.stringify(repoRoot)});
    const { execFileSync } = require('child_process');
    const sleep = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);
    const r = new Recorder();
    r.start({ projectDir: ${JSON.stringify(dir)}, display: ${index}, micIndex: -1, systemAudioIndex: -1, webcamIndex: -1, fps: 10 });
    sleep(1500);
    execFileSync('xdotool', ['mousemove', '${pointer[0]}', '${pointer[1]}']);
    sleep(1500);
    r.end();`;
  const run = spawnSync(process.execPath, ['-e', source], { env: { ...process.env, DISPLAY: display }, encoding: 'utf8', timeout: 120000 });
  assert.equal(run.status, 0, run.stderr);
}

// RGB of the video's last frame at (x, y).
function videoPixel(file, width, x, y) {
  const raw = execFileSync('ffmpeg', ['-v', 'error', '-sseof', '-0.5', '-i', file, '-frames:v', '1', '-f', 'rawvideo', '-pix_fmt', 'rgb24', '-'],
    { maxBuffer: 64 << 20 });
  const at = (y * width + x) * 3;
  return [raw[at], raw[at + 1], raw[at + 2]];
}

// Waits until the desktop shows the colour at (x, y): the players take their time on a busy machine.
function waitForColour(display, x, y, colour) {
  for (let i = 0; i < 100; i++) {
    const run = spawnSync('ffmpeg', ['-v', 'error', '-f', 'x11grab', '-video_size', '1x1', '-i', `${display}+${x},${y}`,
      '-frames:v', '1', '-f', 'rawvideo', '-pix_fmt', 'rgb24', '-']);
    if (run.status === 0 && run.stdout.length === 3 && near([...run.stdout], colour)) return;
    sleep(200);
  }
  assert.fail(`the desktop never showed ${colour} at ${x},${y}`);
}

const near = (actual, expected) => actual.every((v, i) => Math.abs(v - expected[i]) < 60);

test('each RandR monitor can be recorded, and positions.json maps onto its video', (t) => {
  t.after(() => { for (const kid of kids) kid.kill('SIGKILL'); });
  // A display number of our own: the first free one from 140 up.
  let number = 140;
  while (fs.existsSync(`/tmp/.X11-unix/X${number}`) || fs.existsSync(`/tmp/.X${number}-lock`)) number++;
  const display = `:${number}`;
  // -noreset: the server would forget the monitors when the last client leaves.
  kids.push(spawn('Xvfb', [display, '-noreset', '-screen', '0', '1280x480x24', '+extension', 'RANDR', '-nolisten', 'tcp'], { stdio: 'ignore' }));
  for (let i = 0; i < 100 && !fs.existsSync(`/tmp/.X11-unix/X${number}`); i++) sleep(100);
  const env = { ...process.env, DISPLAY: display };
  // LEFT takes over the screen's output, so that its automatic monitor gives way.
  execFileSync('xrandr', ['--setmonitor', 'LEFT', '640/169x480/127+0+0', 'screen'], { env, stdio: 'ignore' });
  execFileSync('xrandr', ['--setmonitor', 'RIGHT', '640/169x480/127+640+0', 'none'], { env, stdio: 'ignore' });
  paint(display, 'red', 0, 0, 640, 480);
  paint(display, 'blue', 640, 0, 640, 480);
  waitForColour(display, 100, 100, [255, 0, 0]);
  waitForColour(display, 740, 100, [0, 0, 255]);
  // A marker on the right monitor, under the pointer; without a window manager the last window
  // mapped is on top, so it comes once the others show.
  paint(display, 'lime', 900, 300, 40, 40);
  waitForColour(display, 920, 320, [0, 255, 0]);

  const listed = JSON.parse(execFileSync(process.execPath, ['-e',
    `console.log(JSON.stringify(require(${JSON.stringify(repoRoot)}).listDisplays()))`], { env, encoding: 'utf8' }));
  assert.deepEqual(listed.map(({ name, left, top, right, bottom }) => ({ name, left, top, right, bottom })), [
    { name: 'LEFT', left: 0, top: 0, right: 640, bottom: 480 },
    { name: 'RIGHT', left: 640, top: 0, right: 1280, bottom: 480 },
  ]);
  assert.equal(listed.filter((d) => d.primary).length, 1);
  assert.equal(listed[0].primary, true);  // the one at 0, 0 when RandR marks none

  const expected = [{ name: 'LEFT', colour: [255, 0, 0] }, { name: 'RIGHT', colour: [0, 0, 255] }];
  for (const [index, want] of expected.entries()) {
    const dir = tempDir();
    recordDisplay(display, index, dir, [920, 320]);
    const meta = readJson(dir, 'meta.json');
    assert.deepEqual([meta.width, meta.height], [640, 480], `display ${index}`);
    const screen = readJson(dir, 'tracks.json').tracks.find((e) => e.kind === 'screen');
    assert.equal(screen.status, 'recorded', screen.reason);
    assert.deepEqual(screen.display, { index, name: want.name, left: 640 * index, top: 0, right: 640 * (index + 1), bottom: 480, rotation: 0 });
    const file = path.join(dir, 'output.mp4');
    assert.ok(near(videoPixel(file, 640, 100, 100), want.colour), `display ${index} shows its own colour`);
    if (index === 1) {
      // The pointer's last position, mapped onto the video, lies on the marker.
      const last = readJson(dir, 'positions.json').at(-1);
      assert.deepEqual([last.x, last.y], [920, 320]);
      const pixel = videoPixel(file, 640, last.x - screen.display.left, last.y - screen.display.top);
      assert.ok(near(pixel, [0, 255, 0]), `marker under the pointer, got ${pixel}`);
    }
  }

  // A display that does not exist: no video, a failure that says why.
  const dir = tempDir();
  recordDisplay(display, 5, dir, [10, 10]);
  const screen = readJson(dir, 'tracks.json').tracks.find((e) => e.kind === 'screen');
  assert.equal(screen.status, 'failed');
  assert.match(screen.reason, /display 5 does not exist; listDisplays\(\) lists 2/);
});

test('display must be an index', () => {
  const { Recorder } = require('../..');
  for (const bad of ['1', 1.5, -2, 256, NaN, null]) {
    assert.throws(() => new Recorder().start({ projectDir: tempDir(), display: bad }),
      { name: 'TypeError', message: 'display must be an index from listDisplays(), or -1' }, String(bad));
  }
});
