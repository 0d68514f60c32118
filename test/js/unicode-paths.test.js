'use strict';
// Project folders named in any script: each receives every file of its recording, nothing is
// written anywhere else, and the standard-output line carries the path as UTF-8.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { tempDir, runNode } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');

useTestServices();

// The same names as the Windows suite (test/win/unicode.test.js).
const folderNames = ['José', 'Запись', '録画', 'take 🎬', 'my videos'];
const trackFiles = ['clicks.json', 'cursor_info.json', 'cursors', 'meta.json', 'mivox.wav', 'output.mp4', 'output.wav', 'positions.json', 'recorder.log', 'tracks.json'];

test('every file of a recording lands in a project folder with a non-ASCII or spaced name', () => {
  const parent = tempDir();
  const dirs = folderNames.map((name) => path.join(parent, name, 'take'));
  const child = runNode(`
    const recorder = new Recorder();
    for (const projectDir of ${JSON.stringify(dirs)}) {
      recorder.start({ projectDir, micIndex: 0, systemAudioIndex: 0 });
      const until = Date.now() + 700;
      while (Date.now() < until);
      recorder.end();
    }
  `);
  assert.equal(child.status, 0, child.stderr);
  assert.deepEqual(fs.readdirSync(parent).sort(), [...folderNames].sort(), 'nothing beside the named folders');
  for (const dir of dirs) {
    assert.deepEqual(fs.readdirSync(dir).sort(), trackFiles, dir);
    assert.ok(fs.statSync(path.join(dir, 'output.mp4')).size > 0, dir);
  }
  assert.equal(child.stdout, dirs.map((dir) => `"${path.join(dir, 'meta.json')}"\n`).join(''));
});
