'use strict';
// Project folders named in any script, on Windows: the add-on turns the UTF-8 text into a wide
// path and opens every file through it (recorder.log, meta.json, the WAV and JSON tracks), so
// each folder receives the same files as a plain-named one, nothing lands in a folder with a
// garbled name, and the standard-output line is the UTF-8 path.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { runWindowsNode, winPath } = require('./helpers/wine');

// The same names as the Linux suite (test/js/unicode-paths.test.js).
const folderNames = ['José', 'Запись', '録画', 'take 🎬', 'my videos'];

test('every file of a recording lands in a project folder with a non-ASCII or spaced name', async () => {
  const parent = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-win-'));
  const names = ['plain', ...folderNames];
  const dirs = names.map((name) => path.join(parent, name, 'take'));
  const run = await runWindowsNode(`
    const recorder = new Recorder();
    const micIndex = recorder.getMics().length > 0 ? 0 : -1;
    report('micIndex', micIndex);
    for (const projectDir of ${JSON.stringify(dirs.map(winPath))}) {
      recorder.start({ projectDir, micIndex, systemAudioIndex: 0 });
      sleep(700);
      recorder.end();
    }
  `);
  assert.equal(run.status, 0, run.stderr);
  assert.equal(run.results.micIndex, 0, 'the test services provide a microphone');
  assert.deepEqual(fs.readdirSync(parent).sort(), [...names].sort(), 'nothing beside the named folders');

  const files = (dir) => fs.readdirSync(dir).sort();
  const plain = files(dirs[0]);
  for (const track of ['recorder.log', 'meta.json', 'tracks.json', 'mivox.wav', 'positions.json', 'clicks.json', 'cursor_info.json']) {
    assert.ok(plain.includes(track), `${track} in ${plain}`);
  }
  for (const dir of dirs.slice(1)) {
    assert.deepEqual(files(dir), plain, dir);
    // More than a WAV header: the microphone really recorded into it.
    assert.ok(fs.statSync(path.join(dir, 'mivox.wav')).size > 44, dir);
  }
  const quoted = (dir) => `"${winPath(path.join(dir, 'meta.json')).replace(/\\/g, '\\\\')}"\n`;
  assert.equal(run.stdout.replace(/\r/g, ''), dirs.map(quoted).join(''));
});
