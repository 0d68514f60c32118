'use strict';
// The hand-written typings describe the real class and catch misuse.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const { Recorder } = require('../..');
const { repoRoot } = require('./helpers/project');

test('typings', async (t) => {
  await t.test('compile a usage example and reject misuse', () => {
    const tsc = path.join(repoRoot, 'node_modules', 'typescript', 'bin', 'tsc');
    const result = spawnSync(process.execPath, [tsc, '-p', path.join(repoRoot, 'test', 'types')], { encoding: 'utf8' });
    assert.equal(result.status, 0, result.stdout + result.stderr);
  });

  await t.test('name every event code the add-on can send', () => {
    const header = fs.readFileSync(path.join(repoRoot, 'include', 'track_events.h'), 'utf8');
    const native = header.match(/enum class TrackEventCode \{([^}]*)\}/)[1].match(/^\s*(\w+),/gm).map((line) => line.trim().slice(0, -1));
    const dts = fs.readFileSync(path.join(repoRoot, 'lib', 'index.d.ts'), 'utf8');
    const typed = dts.match(/export type TrackEventCode =([^;]*);/)[1].match(/'(\w+)'/g).map((quoted) => quoted.slice(1, -1));
    assert.deepEqual([...typed].sort(), [...native].sort());
  });

  await t.test('declare every method of the class', () => {
    const dts = fs.readFileSync(path.join(repoRoot, 'lib', 'index.d.ts'), 'utf8');
    for (const method of Object.getOwnPropertyNames(Recorder.prototype).filter((m) => m !== 'constructor')) {
      assert.match(dts, new RegExp(`^\\s+${method}\\(`, 'm'), method);
    }
  });
});
