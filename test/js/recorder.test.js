'use strict';
// The Recorder surface: exports, option reading, settings carried between recordings, the log,
// meta.json and the standard-output line, getMics, and the guards that keep the host alive.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { Recorder } = require('../..');
const { repoRoot, tempDir, readMeta, readLog, logMessages, runNode } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');

useTestServices();

const record = (recorder, options) => {
  recorder.start(options);
  recorder.end();
};

test('module surface', async (t) => {
  await t.test('exports Recorder beside the module-level status, frame reader, camera list and recovery', () => {
    assert.deepEqual(Object.keys(require(path.join(repoRoot, 'build', 'Release', 'desktracks.node'))),
      ['Recorder', 'getStatus', 'readVideoFrames', 'listCameras', 'recoverProject']);
    assert.deepEqual(Object.keys(require('../..')), ['Recorder', 'getStatus', 'listCameras', 'recover']);
    assert.equal(typeof Recorder, 'function');
  });

  await t.test('the prototype has exactly start, end and getMics', () => {
    assert.deepEqual(Object.getOwnPropertyNames(Recorder.prototype).sort(), ['constructor', 'end', 'getMics', 'start']);
  });

  await t.test('calling the class without new throws', () => {
    assert.throws(() => Recorder(), { name: 'TypeError', message: "Class constructors cannot be invoked without 'new'" });
  });

  await t.test('methods refuse a foreign this', () => {
    const recorder = new Recorder();
    assert.throws(() => recorder.end.call({}));
    assert.throws(() => recorder.start.call(42, {}));
  });
});

test('start rejects malformed options', async (t) => {
  const cwd = process.cwd();
  const dir = tempDir();
  process.chdir(dir);
  t.after(() => process.chdir(cwd));

  await t.test('the first argument must be an object', () => {
    const recorder = new Recorder();
    for (const args of [[], [null], [42], ['dir']]) {
      assert.throws(() => recorder.start(...args), { name: 'TypeError', message: 'Expected an object as the first argument' });
    }
    assert.equal(fs.existsSync(path.join(dir, 'recorder.log')), false);
  });

  await t.test('area must be an array of four numbers', () => {
    const recorder = new Recorder();
    const projectDir = tempDir();
    assert.throws(() => recorder.start({ projectDir, area: '0,0,10,10' }), { name: 'TypeError', message: 'Area must be an array' });
    assert.throws(() => recorder.start({ projectDir, area: [1, 2, 3] }), {
      name: 'TypeError',
      message: 'Area array must have exactly four elements',
    });
    assert.throws(() => recorder.start({ projectDir, area: [10, 20, 'x', 40] }), {
      name: 'TypeError',
      message: 'Area array should contain only numbers',
    });
    assert.equal(fs.existsSync(path.join(projectDir, 'recorder.log')), false, 'nothing started');
    // The elements checked before the bad one stay stored: [10, 20, 0, 0], an area not in force,
    // so the whole output is recorded.
    record(recorder, { projectDir });
    assert.deepEqual(readMeta(projectDir).rx, [0, 0, 0, 0]);
  });

  await t.test('area numbers are truncated toward zero, out-of-range ones saturate', () => {
    const recorder = new Recorder();
    const projectDir = tempDir();
    record(recorder, { projectDir, area: [10.9, -3.7, 800, 600] });
    assert.deepEqual(readMeta(projectDir).rx, [10, -3, 800, 600]);
    record(recorder, { projectDir, area: [NaN, Infinity, -Infinity, 1e300] });
    assert.ok(logMessages(projectDir).includes(
      'screenRecorder: capture area [0, 2147483647, -2147483648, 2147483647] is not usable, recording the whole output'));
    assert.deepEqual(readMeta(projectDir).rx, [0, 0, 0, 0]); // the area recorded
  });

  await t.test('values of the wrong type are ignored', () => {
    const recorder = new Recorder();
    const projectDir = tempDir();
    record(recorder, { projectDir });
    record(recorder, { projectDir: 42, micIndex: '0', systemAudioIndex: null, fps: '60' });
    const meta = readMeta(projectDir);
    assert.equal(meta.micIndex, -1);
    assert.equal(meta.systemAudioIndex, -1);
    assert.equal(logMessages(projectDir).filter((m) => m === 'write end').length, 2, 'projectDir kept');
  });

  await t.test('a throwing getter surfaces as that exception and starts nothing', () => {
    const recorder = new Recorder();
    const projectDir = tempDir();
    const options = { projectDir };
    Object.defineProperty(options, 'fps', {
      get() {
        throw new RangeError('no fps today');
      },
    });
    assert.throws(() => recorder.start(options), { name: 'RangeError', message: 'no fps today' });
    assert.equal(fs.existsSync(path.join(projectDir, 'recorder.log')), false);
    record(recorder, { projectDir }); // and the process can still record
    assert.ok(fs.existsSync(path.join(projectDir, 'meta.json')));
  });

  await t.test('an empty options object records into the current directory', () => {
    const recorder = new Recorder();
    record(recorder, {});
    const meta = readMeta(dir);
    assert.deepEqual([meta.micIndex, meta.systemAudioIndex, meta.rx], [-1, -1, [0, 0, 0, 0]]);
    assert.ok(fs.existsSync(path.join(dir, 'recorder.log')));
  });
});

test('settings between recordings', async (t) => {
  await t.test('area, micIndex and systemAudioIndex reset; projectDir, fps and bitrate are kept', () => {
    const recorder = new Recorder();
    const projectDir = tempDir();
    record(recorder, { projectDir, area: [0, 0, 320, 240], micIndex: 0, systemAudioIndex: 0, fps: 24 });
    let meta = readMeta(projectDir);
    assert.deepEqual([meta.micIndex, meta.systemAudioIndex, meta.rx], [0, 0, [0, 0, 320, 240]]);
    record(recorder, {});
    meta = readMeta(projectDir);
    assert.deepEqual([meta.micIndex, meta.systemAudioIndex, meta.rx], [-1, -1, [0, 0, 0, 0]]);
    assert.equal(meta.fps, 24);
  });

  await t.test('the log is appended to, missing directories are created, end logs its three lines', () => {
    const recorder = new Recorder();
    const projectDir = path.join(tempDir(), 'a', 'b', 'c');
    record(recorder, { projectDir });
    record(recorder, { projectDir });
    const ends = logMessages(projectDir).filter((m) => ['end', 'write end'].includes(m));
    assert.deepEqual(ends, ['end', 'end', 'write end', 'end', 'end', 'write end']);
    assert.match(readLog(projectDir), /^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[basic_logger\] \[info\] /m);
  });
});

test('meta.json and the standard-output line', async (t) => {
  await t.test('eleven sorted keys, indent 4, 18 lines, no final newline', () => {
    const projectDir = tempDir();
    record(new Recorder(), { projectDir, area: [1, 2, 3, 4] });
    const text = fs.readFileSync(path.join(projectDir, 'meta.json'), 'utf8');
    const lines = text.split('\n');
    assert.equal(lines.length, 18);
    assert.equal(text.endsWith('}'), true);
    const keys = [...text.matchAll(/^ {4}"([A-Za-z]+)":/gm)].map((m) => m[1]);
    assert.deepEqual(keys, ['fps', 'height', 'micChannels', 'micIndex', 'micSimpleRate', 'playbackChannels',
      'playbackSimpleRate', 'rx', 'systemAudioIndex', 'time', 'width']);
    assert.equal(lines.slice(8, 14).join('\n'), '    "rx": [\n        1,\n        2,\n        3,\n        4\n    ],');
    const meta = JSON.parse(text);
    assert.deepEqual([meta.micChannels, meta.micSimpleRate, meta.playbackChannels, meta.playbackSimpleRate], [1, 16000, 1, 16000]);
  });

  await t.test('end prints the quoted meta.json path once, escaping backslashes and quotes', () => {
    const projectDir = path.join(tempDir(), 'we\\ird "name"');
    const child = runNode(`const r = new Recorder(); r.start({ projectDir: ${JSON.stringify(projectDir)} }); r.end(); r.end();`);
    assert.equal(child.status, 0, child.stderr);
    const expected = JSON.stringify(path.join(projectDir, 'meta.json'));
    assert.equal(child.stdout, `${expected}\n`);
  });
});

test('getMics', async (t) => {
  await t.test('lists capture devices with gap-free indexes, the same twice', () => {
    const recorder = new Recorder();
    const first = recorder.getMics();
    assert.ok(Array.isArray(first));
    first.forEach((mic, i) => {
      assert.deepEqual(Object.keys(mic), ['index', 'name']);
      assert.equal(mic.index, i);
      assert.equal(typeof mic.name, 'string');
    });
    assert.deepEqual(recorder.getMics(), first);
  });
});

test('guards that keep the host alive', async (t) => {
  await t.test('a second start while recording is refused and the running recording is untouched', () => {
    const first = new Recorder();
    const projectDir = tempDir();
    first.start({ projectDir, area: [0, 0, 64, 48] });
    try {
      const message = /already running/;
      assert.throws(() => first.start({ projectDir: tempDir(), area: [0, 0, 32, 32] }), { name: 'Error', message });
      assert.throws(() => new Recorder().start({ projectDir: tempDir() }), { name: 'Error', message });
    } finally {
      first.end();
    }
    assert.deepEqual(readMeta(projectDir).rx, [0, 0, 64, 48]);
  });

  await t.test('end on an idle recorder does nothing', () => {
    const recorder = new Recorder();
    assert.equal(recorder.end(), undefined);
    assert.equal(recorder.end(), undefined);
  });

  await t.test('a log that cannot be opened is an Error naming the path; nothing is left running', () => {
    const base = tempDir();
    fs.writeFileSync(path.join(base, 'file'), '');
    const projectDir = path.join(base, 'file', 'project');
    const recorder = new Recorder();
    assert.throws(() => recorder.start({ projectDir }), (err) => {
      assert.equal(err.name, 'Error');
      assert.ok(err.message.includes(path.join(projectDir, 'recorder.log')), err.message);
      return true;
    });
    const good = tempDir();
    record(recorder, { projectDir: good });
    assert.ok(fs.existsSync(path.join(good, 'meta.json')));
  });

  await t.test('a recorder collected while recording completes its files', () => {
    const projectDir = tempDir();
    const child = runNode(
      `(function () { new Recorder().start({ projectDir: ${JSON.stringify(projectDir)} }); })();
       setTimeout(() => { globalThis.gc(); setTimeout(() => {}, 200); }, 300);`,
      { args: ['--expose-gc'] }
    );
    assert.equal(child.status, 0, child.stderr);
    assert.ok(fs.existsSync(path.join(projectDir, 'meta.json')));
    assert.deepEqual(logMessages(projectDir).filter((m) => ['end', 'write end'].includes(m)), ['end', 'end', 'write end']);
  });
});
