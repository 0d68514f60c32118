'use strict';
// changesOnly: a screen sample only when the picture changed, timed when it was captured, read
// back with ffprobe on a real X server.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const { spawn, spawnSync } = require('child_process');
const { Recorder } = require('../..');
const { tempDir, readJson, videoPackets: packets } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');

useTestServices();

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const x = (...args) => spawnSync(args[0], args.slice(1), { encoding: 'utf8' });

test('start refuses changesOnly with constantFrameRate and keeps what it held', () => {
  const recorder = new Recorder();
  assert.throws(() => recorder.start({ changesOnly: true, constantFrameRate: true }),
    { name: 'TypeError', message: 'changesOnly and constantFrameRate cannot both be true' });
  const projectDir = tempDir();
  recorder.start({ projectDir, constantFrameRate: true, fps: 10 });
  recorder.end();
  // constantFrameRate carries over, so changesOnly alone is refused too.
  assert.throws(() => recorder.start({ changesOnly: true }), TypeError);
  recorder.start({ projectDir: tempDir(), changesOnly: true, constantFrameRate: false });
  recorder.end();
});

test('a still screen gives one sample that lasts to the end, and the pointer moving is no change', async () => {
  x('xsetroot', '-solid', '#203040');
  const projectDir = tempDir();
  const recorder = new Recorder();
  recorder.start({ projectDir, fps: 30, changesOnly: true });
  for (let i = 0; i < 15; i++) {
    x('xdotool', 'mousemove', 300 + i * 30, 400);
    await sleep(100);
  }
  await sleep(500);
  const ending = Date.now();
  recorder.end();
  const list = packets(path.join(projectDir, 'output.mp4'));
  assert.equal(list.length, 1, `${list.length} samples of a still screen`);
  const [[pts, duration]] = list;
  assert.equal(pts, 0);
  const screen = readJson(projectDir, 'tracks.json').tracks[0];
  assert.equal(screen.count, 1);
  assert.ok(Math.abs(duration * 1000 - screen.duration) < 1, `the sample lasts ${duration} s, the track ${screen.duration} ms`);
  // From the first sample's wall-clock time to when end() was called.
  const end = readJson(projectDir, 'meta.json').time + duration * 1000;
  assert.ok(Math.abs(end - ending) < 100, `the video ends ${end - ending} ms from end()`);
});

// Where the yellow window is in each frame: the left edge of its first row, found in a strip
// across its path, or -1 when it is not there.
const strip = { y: 300, h: 100, w: 1400 };
function windowLefts(file) {
  const out = spawnSync('ffmpeg', ['-v', 'error', '-i', file, '-vf', `crop=${strip.w}:${strip.h}:0:${strip.y},format=gray`,
    '-fps_mode', 'passthrough', '-f', 'rawvideo', '-'], { maxBuffer: 1 << 30 }).stdout;
  const size = strip.w * strip.h;
  const lefts = [];
  for (let i = 0; i < out.length / size; i++) {
    const row = out.subarray(i * size + 50 * strip.w, i * size + 51 * strip.w);
    lefts.push(row.findIndex((v) => v > 150));
  }
  return lefts;
}

test('a window moved in bursts gives samples at the bursts only, each showing where the window was then', async (t) => {
  x('xsetroot', '-solid', '#203040');
  const box = spawn('xmessage', ['-title', 'changes-box', '-bg', 'yellow', '-fg', 'yellow', '-geometry', '160x100+100+300',
    '-buttons', '', ' '], { stdio: 'ignore' });
  t.after(() => box.kill('SIGKILL'));
  const id = x('xdotool', 'search', '--sync', '--name', 'changes-box').stdout.trim().split('\n')[0];
  await sleep(500);

  const projectDir = tempDir();
  const recorder = new Recorder();
  recorder.start({ projectDir, fps: 30, changesOnly: true });
  const moves = []; // [wall ms after the move returned, left]
  const bursts = []; // [first move's wall ms before it, last move's wall ms after it]
  let left = 100;
  await sleep(700);
  for (let burst = 0; burst < 3; burst++) {
    const begun = Date.now();
    for (let i = 0; i < 6; i++) {
      left += 40;
      x('xdotool', 'windowmove', id, left, 300);
      moves.push([Date.now(), left]);
      await sleep(burst === 2 ? 0 : 40); // the last burst as fast as the moves go: closer than a pass
    }
    bursts.push([begun, Date.now()]);
    await sleep(700);
  }
  recorder.end();

  const file = path.join(projectDir, 'output.mp4');
  const start = readJson(projectDir, 'meta.json').time;
  const list = packets(file);
  // The window's border shifts its yellow by a pixel or two.
  const near = (a, b) => Math.abs(a - b) <= 3;
  const lefts = windowLefts(file);
  assert.equal(lefts.length, list.length);
  assert.ok(near(lefts[0], 100), `the first sample shows the window where it started, not at ${lefts[0]}`);
  assert.ok(near(lefts.at(-1), left), `the last move is in the file: ${lefts.at(-1)}, not ${left}`);
  const slack = 60; // ms: the X server's and the loop's own delay
  for (let n = 1; n < list.length; n++) {
    const at = start + list[n][0] * 1000;
    assert.ok(bursts.some(([from, to]) => at >= from - slack && at <= to + slack), `sample ${n} at ${list[n][0]} s is outside the bursts`);
    // The picture of its moment: a position the window had then, not an earlier or later one.
    const shown = moves.findIndex(([, l]) => near(l, lefts[n]));
    assert.ok(shown >= 0, `sample ${n} shows the window at ${lefts[n]}, where it never was`);
    const next = moves[shown + 1];
    assert.ok(moves[shown][0] - slack <= at && (!next || at <= next[0] + slack), `sample ${n} at ${at} shows move ${shown}`);
    // In order; a move can be two changes (the window, then the desktop it uncovered).
    assert.ok(lefts[n] >= lefts[n - 1] - 3, `sample ${n} goes back from ${lefts[n - 1]} to ${lefts[n]}`);
  }
  const positions = new Set(lefts.map((l) => Math.round(l / 10)));
  assert.ok(positions.size >= 1 + 6 + 6 + 1, `${positions.size} positions for two bursts of 6 separate moves and one quick one`);
  // The samples between bursts: none. Each burst's last picture stays until the next burst.
  for (let b = 0; b < 2; b++) {
    const lastOfBurst = list.filter(([pts]) => start + pts * 1000 <= bursts[b][1] + slack).length - 1;
    assert.ok(near(lefts[lastOfBurst], moves[b * 6 + 5][1]), `burst ${b} ends on ${lefts[lastOfBurst]}, not its last position`);
  }
});
