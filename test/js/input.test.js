'use strict';
// The input track end to end under Xvfb, driven by xdotool (one process per action, so that Xvfb
// delivers each at once).
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const { Recorder } = require('../..');
const { tempDir, readJson, runNode } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');
const { showCursorWindows } = require('./helpers/cursor-windows');

const sleep = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);

// Each action gets well past the 10 ms gate before the next one.
function xdotool(...args) {
  execFileSync('xdotool', args.map(String));
  sleep(100);
}

// On a loaded machine two injected actions can reach the hook within 10 ms, and the gate rightly
// drops the second: such a run is repeated. Wrong values fail every attempt.
function eventually(scenario, attempts = 3) {
  for (let i = 1; ; i++) {
    try {
      return scenario();
    } catch (err) {
      if (i >= attempts || !(err instanceof assert.AssertionError)) throw err;
    }
  }
}

function record(actions) {
  const projectDir = tempDir('desktracks-input-');
  const recorder = new Recorder();
  recorder.start({ projectDir });
  sleep(800); // the hook library loads and the hook comes up
  actions();
  recorder.end();
  return projectDir;
}

useTestServices();

test('moves, drags, presses and releases; the next recording of the process holds only its own, and a quick click its release', () => eventually(() => {
  xdotool('mousemove', 5, 5);
  const first = record(() => {
    xdotool('mousemove', 101, 102);
    xdotool('mousemove', 203, 204);
    xdotool('mousedown', 1);
    xdotool('mousemove', 305, 306);
    xdotool('mouseup', 1);
    xdotool('mousedown', 3);
    xdotool('mouseup', 3);
  });
  const second = record(() => {
    xdotool('mousemove', 21, 22);
    xdotool('key', 'shift', 'click', 1); // one process: the key and the click's press and release within a few ms
  });
  const pick = (dir, name) => readJson(dir, name).map(({ time, ...rest }) => rest);
  const at = (x, y, type, button) => ({ button, cursorName: 'Unknown', type, x, y }); // the root's core X cursor
  assert.deepEqual(pick(first, 'positions.json'), [at(101, 102, 0, 0), at(203, 204, 0, 0), at(305, 306, 1, 0)]);
  assert.deepEqual(pick(first, 'clicks.json'), [at(203, 204, 0, 1), at(305, 306, 1, 1), // libuiohook: the right button is 2
    at(305, 306, 0, 2), at(305, 306, 1, 2)]);
  assert.deepEqual([pick(second, 'positions.json'), pick(second, 'clicks.json')], [[at(21, 22, 0, 0)], [at(21, 22, 0, 1), at(21, 22, 1, 1)]]);
}));

test('a window cursor is named by its standard name', async (t) => {
  // hand2 is a named theme cursor, watch an animated one (no name, known by its image), pencil a
  // theme cursor that is none of the standard ones.
  await showCursorWindows(t, ['400,400,100,100,hand2', '600,400,100,100,watch', '800,400,100,100,pencil']);
  const projectDir = eventually(() => {
    const projectDir = record(() => {
      for (const x of [450, 650, 850]) {
        xdotool('mousemove', x, 450);
        xdotool('mousemove', x + 1, 451); // the cursor has changed by now
      }
    });
    const names = readJson(projectDir, 'positions.json').filter((r) => r.y === 451).map((r) => r.cursorName);
    assert.deepEqual(names, ['Hand', 'Wait', 'Unknown']);
    return projectDir;
  });
  const info = readJson(projectDir, 'cursor_info.json');
  assert.deepEqual(Object.keys(info.Hand), ['height', 'isColor', 'width', 'x', 'y']);
  assert.equal(info.Size, undefined); // X has no cursor of that name
});

test('end() right after start() returns, however far the hook has come', () => {
  // In a child, so that a hang fails this test instead of stalling the run.
  const base = tempDir('desktracks-input-quick-');
  const child = runNode(
    `const recorder = new Recorder();
     for (let i = 0; i < 8; i++) {
       recorder.start({ projectDir: ${JSON.stringify(base)} + '/r' + i });
       Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, i * 6);
       recorder.end();
     }`
  );
  assert.equal(child.status, 0, `signal ${child.signal}, stderr: ${child.stderr}`);
  for (let i = 0; i < 8; i++) {
    const dir = path.join(base, `r${i}`);
    assert.deepEqual([readJson(dir, 'positions.json'), readJson(dir, 'clicks.json')], [[], []]);
    assert.ok(fs.existsSync(path.join(dir, 'cursor_info.json')));
  }
});
