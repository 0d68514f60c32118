'use strict';
// constantFrameRate: exactly fps samples a second on a 1/fps grid, on a still desktop and under
// a moving scene, read back with ffprobe.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawn, spawnSync } = require('child_process');
const { Recorder } = require('../..');
const { tempDir } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');

useTestServices();

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function packets(file) {
  const out = spawnSync('ffprobe', ['-v', 'error', '-select_streams', 'v', '-show_entries', 'packet=pts_time,duration_time',
    '-of', 'csv=p=0', file], { encoding: 'utf8' }).stdout;
  return out.split('\n').filter((l) => l.trim()).map((l) => l.split(',').map(Number)).sort((a, b) => a[0] - b[0]);
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
  t.after(() => process.kill(-scene.pid));
  await sleep(1500); // the player's window comes up
  const take = await recordConstant(60, 2500);
  assertOnGrid(take, 60);
  // The scene changes 30 times a second: at 60 samples a second about half are new pictures.
  const distinct = distinctFrames(take.file);
  assert.ok(distinct > take.screen.count * 0.3, `${distinct} distinct pictures of ${take.screen.count}`);
});
