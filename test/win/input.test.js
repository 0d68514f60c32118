'use strict';
// libuiohook's low-level mouse hook on Windows, inside a Wine virtual desktop, where the hook
// receives the X display's input: xdotool's moves, press and release become positions.json and
// clicks.json records in desktop coordinates.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const { startWindowsNode, waitForSignal, signalWindows, winPath } = require('./helpers/wine');

const xdotool = (...args) => execFileSync('xdotool', args, { encoding: 'utf8' }).trim();
const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

test('the mouse hook records xdotool input inside a Wine virtual desktop', async () => {
  const project = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-win-'));
  const windows = startWindowsNode(
    `
    const recorder = new Recorder();
    recorder.start({ projectDir: ${JSON.stringify(winPath(project))} });
    signal('recording');
    waitFor('stop');
    recorder.end();
    `,
    { desktop: 'desktracks' }
  );
  await waitForSignal(windows.syncDir, 'recording');
  const desktop = xdotool('search', '--sync', '--name', '^desktracks - Wine desktop$').split('\n')[0];
  const geometry = xdotool('getwindowgeometry', '--shell', desktop);
  const origin = Object.fromEntries(geometry.split('\n').map((line) => line.split('=')));
  await pause(1500); // the hook thread installs its hook after start returns
  // One xdotool process per action, so every event reaches the display on its own.
  const points = [[100, 200], [400, 300], [640, 360]];
  for (const [x, y] of points) {
    xdotool('mousemove', String(Number(origin.X) + x), String(Number(origin.Y) + y));
    await pause(100);
  }
  // Press and release apart: events closer than the input gate's 10 ms are dropped.
  xdotool('mousedown', '1');
  await pause(100);
  xdotool('mouseup', '1');
  await pause(300);
  signalWindows(windows.syncDir, 'stop');
  const run = await windows.done;
  assert.equal(run.status, 0, run.stderr);

  const positions = JSON.parse(fs.readFileSync(path.join(project, 'positions.json'), 'utf8'));
  const clicks = JSON.parse(fs.readFileSync(path.join(project, 'clicks.json'), 'utf8'));
  for (const [x, y] of points) {
    assert.ok(positions.some((p) => p.x === x && p.y === y && p.type === 0), `(${x}, ${y}) in ${JSON.stringify(positions)}`);
  }
  const [last] = points.slice(-1);
  assert.deepEqual(
    clicks.map(({ button, type, x, y }) => ({ button, type, x, y })),
    [0, 1].map((type) => ({ button: 1, type, x: last[0], y: last[1] }))
  );
  assert.ok(clicks.every((c) => typeof c.cursorName === 'string' && c.cursorName.length > 0));
  assert.ok(clicks.every((c) => Math.abs(c.time - Date.now()) < 120000), 'wall-clock milliseconds');
});
