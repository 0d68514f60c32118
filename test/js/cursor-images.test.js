'use strict';
// Every cursor image the user saw, under Xvfb: windows with cursors made from known ARGB images,
// the pointer moved over them with xdotool (one process per action, so Xvfb delivers each at once).
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const { Recorder } = require('../..');
const { tempDir, readJson } = require('./helpers/project');
const { inspectRecording } = require('../../lib/inspect');
const { writeOverview } = require('../../lib/overview');
const { useTestServices } = require('./helpers/services');
const { showCursorWindows } = require('./helpers/cursor-windows');

const sleep = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);

// The images the helper makes, in straight RGBA, and what a premultiplied copy of them reads back
// as: X keeps cursors premultiplied, so a half-transparent colour comes back rounded.
function sourcePixel(name, x, y) {
  if (name === 'red') return [255, 0, 0, 255];
  if (name === 'half') return [0, x * 12, 200, 128];
  if (y === 0) return [0, 0, 0, 0];
  return (Math.floor(x / 4) + Math.floor(y / 4)) % 2 ? [255, 255, 0, 255] : [0, 128, 0, 255];
}
function throughPremultiplied([r, g, b, a]) {
  if (a === 0) return [0, 0, 0, 0];
  const back = (c) => Math.min(255, Math.floor((Math.floor((c * a + 127) / 255) * 255 + Math.floor(a / 2)) / a));
  return [back(r), back(g), back(b), a];
}
const patterns = {
  red: { size: 16, hotX: 0, hotY: 0 },
  half: { size: 20, hotX: 10, hotY: 10 },
  offcentre: { size: 24, hotX: 3, hotY: 20 },
};
function expectedRgba(name) {
  const { size } = patterns[name];
  const bytes = [];
  for (let y = 0; y < size; y++) for (let x = 0; x < size; x++) bytes.push(...throughPremultiplied(sourcePixel(name, x, y)));
  return Buffer.from(bytes);
}
const decodeRgba = (file) => execFileSync('ffmpeg', ['-v', 'error', '-i', file, '-f', 'rawvideo', '-pix_fmt', 'rgba', '-']);

useTestServices();

test('each distinct cursor image is kept once, pixel for pixel, and every position finds the image on screen', async (t) => {
  await showCursorWindows(t, ['100,600,100,100,red', '300,600,100,100,half', '500,600,100,100,offcentre']);
  const windowAt = (x) => (x >= 100 && x < 200 ? 'red' : x >= 300 && x < 400 ? 'half' : x >= 500 && x < 600 ? 'offcentre' : null);

  execFileSync('xdotool', ['mousemove', 10, 10]);
  const projectDir = tempDir('desktracks-cursor-images-');
  const recorder = new Recorder();
  recorder.start({ projectDir });
  sleep(800);
  const visits = ['red', 'half', 'red', 'offcentre', 'half', 'red'];
  const left = { red: 150, half: 350, offcentre: 550 };
  for (const name of visits) {
    execFileSync('xdotool', ['mousemove', left[name], 650]);
    sleep(250);
    execFileSync('xdotool', ['mousemove', left[name] + 3, 653]); // the cursor has changed by now
    sleep(150);
  }
  recorder.end();

  const folder = path.join(projectDir, 'cursors');
  const { images } = readJson(folder, 'index.json');
  const timeline = readJson(folder, 'timeline.json');
  const byId = new Map(images.map((image) => [image.id, image]));
  assert.equal(byId.size, images.length, 'an image is listed once');
  assert.deepEqual(fs.readdirSync(folder).filter((f) => f.endsWith('.png')).sort(), images.map((i) => i.file).sort());

  // Each helper image once, equal to its source after un-premultiplying, with its hotspot.
  const idOf = {};
  for (const [name, { size, hotX, hotY }] of Object.entries(patterns)) {
    const expected = expectedRgba(name);
    const found = images.filter((image) => image.width === size && image.height === size &&
      decodeRgba(path.join(folder, image.file)).equals(expected));
    assert.equal(found.length, 1, `${name} is kept once`);
    assert.deepEqual([found[0].hotX, found[0].hotY, found[0].standardName, found[0].scale], [hotX, hotY, null, 1]);
    idOf[name] = found[0].id;
  }

  // The timeline follows the visits, the root's own cursor first.
  const shown = timeline.map((entry) => entry.id);
  assert.deepEqual(shown.filter((id) => Object.values(idOf).includes(id)), visits.map((name) => idOf[name]));
  for (let i = 1; i < timeline.length; i++) {
    assert.ok(timeline[i].time >= timeline[i - 1].time);
    assert.notEqual(timeline[i].id, timeline[i - 1].id, 'only changes are listed');
  }

  // The second move into each window comes after the cursor changed: its record maps to the
  // window's image through the timeline.
  const inForce = (time) => timeline.filter((entry) => entry.time <= time).pop();
  const settled = readJson(projectDir, 'positions.json').filter((record) => record.y === 653);
  assert.equal(settled.length, visits.length);
  for (const record of settled) assert.equal(inForce(record.time).id, idOf[windowAt(record.x)]);

  // inspect checks and lists them; the overview draws them on the trail.
  const inspection = inspectRecording(projectDir);
  const row = inspection.rows.find((r) => r.file === 'cursors/index.json');
  assert.equal(row.status, 'ok', row.detail);
  assert.match(row.detail, new RegExp(`^${images.length} images .*, ${timeline.length} changes$`));
  assert.ok(fs.statSync(writeOverview(inspection).file).size > 0);
  fs.unlinkSync(path.join(folder, images[0].file));
  assert.equal(inspectRecording(projectDir).rows.find((r) => r.file === 'cursors/index.json').status, 'broken');
});

test('cursorImages: false keeps no images, and the next recording keeps them again', () => {
  const off = tempDir('desktracks-cursor-images-off-');
  const recorder = new Recorder();
  recorder.start({ projectDir: off, cursorImages: false });
  sleep(300);
  recorder.end();
  assert.equal(fs.existsSync(path.join(off, 'cursors')), false);
  const on = tempDir('desktracks-cursor-images-on-');
  recorder.start({ projectDir: on, cursorImages: true });
  sleep(300);
  recorder.end();
  assert.equal(readJson(path.join(on, 'cursors'), 'timeline.json').length, 1); // the cursor in force at the start
});
