'use strict';
// constantFrameRate: exactly fps samples a second on a 1/fps grid, on a still desktop and under
// a moving scene, read back with ffprobe.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawn, spawnSync } = require('child_process');
const { Recorder } = require('../..');
const { tempDir, videoPackets: packets } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');

useTestServices();

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// ffplay can hang in its exit on SIGTERM with its window still up, where it would cover the
// desktop for every later test: it is killed outright, and waited for until its window is gone.
async function killWindowed(child, group = false) {
  const gone = new Promise((resolve) => (child.exitCode !== null || child.signalCode !== null ? resolve() : child.once('exit', resolve)));
  try {
    process.kill(group ? -child.pid : child.pid, 'SIGKILL');
  } catch {} // already gone
  await gone;
  if (group) while (spawnSync('pgrep', ['-g', String(child.pid)]).status === 0) await sleep(20);
}

// Distinct pictures among the frames, by a hash of a scaled-down copy of each.
function distinctFrames(file) {
  const out = spawnSync('ffmpeg', ['-v', 'error', '-i', file, '-fps_mode', 'passthrough', '-f', 'framemd5', '-'], { encoding: 'utf8' }).stdout;
  return new Set(out.split('\n').filter((l) => l && !l.startsWith('#')).map((l) => l.split(',').pop().trim())).size;
}

async function recordConstant(fps, ms) {
  const projectDir = tempDir();
  const recorder = new Recorder();
  recorder.start({ projectDir, fps, constantFrameRate: true });
  await sleep(ms);
  recorder.end();
  const screen = JSON.parse(fs.readFileSync(path.join(projectDir, 'tracks.json'), 'utf8')).tracks[0];
  return { file: path.join(projectDir, 'output.mp4'), screen, ms };
}

function assertOnGrid({ file, screen, ms }, fps) {
  const list = packets(file);
  assert.equal(list.length, screen.count);
  list.forEach(([pts, duration], n) => {
    assert.ok(Math.abs(pts - n / fps) < 2e-6, `sample ${n} at ${pts} s, not ${n / fps}`);
    assert.ok(Math.abs(duration - 1 / fps) < 2e-6, `sample ${n} lasts ${duration} s`);
  });
  // As many samples as whole ticks passed, give or take the set-up and the end.
  const expected = (ms / 1000) * fps;
  assert.ok(list.length > expected * 0.7 && list.length <= expected + 1, `${list.length} samples in ${ms} ms at ${fps} fps`);
  assert.ok(Math.abs(screen.duration - (list.length * 1000) / fps) < 0.01, `${screen.duration} ms`);
}

test('constant rate on a still desktop: every tick has a sample, repeating the one picture', async () => {
  const take = await recordConstant(30, 2000);
  assertOnGrid(take, 30);
  assert.ok(distinctFrames(take.file) <= 2, 'a still desktop gives one picture');
});

test('constant rate under a moving scene: every tick has a sample of the newest picture', async (t) => {
  const scene = spawn('bash', [path.join(__dirname, '..', '..', 'scripts', 'test-scene.sh')], { stdio: 'ignore', detached: true });
  t.after(() => killWindowed(scene, true));
  await sleep(1500); // the player's window comes up
  const take = await recordConstant(60, 2500);
  assertOnGrid(take, 60);
  // The scene changes 30 times a second: at 60 samples a second about half are new pictures.
  const distinct = distinctFrames(take.file);
  assert.ok(distinct > take.screen.count * 0.3, `${distinct} distinct pictures of ${take.screen.count}`);
});

// Only what changed is copied and converted at a constant rate: a small window moved over a
// patterned desktop must leave no trace where it was, and every sample must hold the one window.
const crop = { x: 100, y: 200, w: 1000, h: 300 }; // where the window travels
const windowSize = { w: 160, h: 120 };

// The Y plane of every frame of a video (or one grab of the display) inside the crop.
function lumaFrames(args) {
  const out = spawnSync('ffmpeg', ['-v', 'error', ...args, '-vf', `crop=${crop.w}:${crop.h}:${crop.x}:${crop.y},format=yuv420p`,
    '-fps_mode', 'passthrough', '-f', 'rawvideo', '-'], { maxBuffer: 1 << 30 }).stdout;
  const frame = (crop.w * crop.h * 3) / 2;
  return Array.from({ length: out.length / frame }, (_, i) => out.subarray(i * frame, i * frame + crop.w * crop.h));
}

// The largest difference between the 10x10 block averages of two pictures.
function blockDifference(a, b) {
  let worst = 0;
  for (let by = 0; by < crop.h; by += 10) {
    for (let bx = 0; bx < crop.w; bx += 10) {
      let sum = 0;
      for (let y = by; y < by + 10; y++) for (let x = bx; x < bx + 10; x++) sum += a[y * crop.w + x] - b[y * crop.w + x];
      worst = Math.max(worst, Math.abs(sum / 100));
    }
  }
  return worst;
}

test('constant rate with a small window moving over a pattern: only it changes, and nothing stale is left when it goes', async (t) => {
  const x = (args) => spawnSync(args[0], args.slice(1), { encoding: 'utf8' });
  // A plaid root (dark, about 75 in luma) and a yellow window (about 210).
  x(['xsetroot', '-mod', '16', '16', '-fg', '#d02020', '-bg', '#2040d0']);
  t.after(() => x(['xsetroot', '-def']));
  const player = spawn('ffplay', ['-loglevel', 'quiet', '-an', '-noborder', '-window_title', 'cfr-box', '-left', '150', '-top', '300',
    '-x', `${windowSize.w}`, '-y', `${windowSize.h}`, '-f', 'lavfi', '-i', `color=c=yellow:s=${windowSize.w}x${windowSize.h}:r=10`],
  { stdio: 'ignore' });
  t.after(() => killWindowed(player));
  const id = x(['xdotool', 'search', '--sync', '--name', 'cfr-box']).stdout.trim().split('\n')[0];
  await sleep(1000);

  const projectDir = tempDir();
  const recorder = new Recorder();
  const started = Date.now();
  recorder.start({ projectDir, fps: 30, constantFrameRate: true });
  await sleep(500);
  for (let i = 1; i <= 20; i++) {
    x(['xdotool', 'windowmove', id, `${150 + i * 40}`, `${300 + (i % 3) * 20}`]);
    await sleep(60);
  }
  await killWindowed(player); // unmapped: the desktop it covered shows again, with no damage of our own making
  await sleep(800);
  recorder.end();
  const ms = Date.now() - started;
  const file = path.join(projectDir, 'output.mp4');
  const screen = JSON.parse(fs.readFileSync(path.join(projectDir, 'tracks.json'), 'utf8')).tracks[0];
  assertOnGrid({ file, screen, ms }, 30);

  const frames = lumaFrames(['-i', file]);
  assert.equal(frames.length, screen.count);
  // While the window is up, no sample holds more of it than one window: a stale copy where it was
  // would add yellow. (Less is possible: a moved window repaints the part that was hidden.)
  const area = windowSize.w * windowSize.h;
  const bright = frames.map((f) => f.reduce((n, v) => n + (v > 150 ? 1 : 0), 0));
  const withWindow = bright.filter((n) => n > 0);
  for (const n of bright) assert.ok(n < area + 1500, `${n} window pixels in a sample`);
  assert.ok(withWindow.filter((n) => n > area - 1500).length > 20, `${withWindow.length} samples show the window`);
  // After it went, the picture is the desktop itself.
  const [desktop] = lumaFrames(['-f', 'x11grab', '-draw_mouse', '0', '-video_size', '1920x1080', '-i', process.env.DISPLAY, '-frames:v', '1']);
  assert.equal(bright[bright.length - 1], 0, 'the window is gone from the last sample');
  const difference = blockDifference(frames[frames.length - 1], desktop);
  assert.ok(difference < 12, `the last sample differs from the desktop by ${difference.toFixed(1)} somewhere`);
});
