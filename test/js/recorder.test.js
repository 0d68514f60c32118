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
const endLines = (dir) => logMessages(dir).filter((m) => ['end', 'write end'].includes(m));

test('module surface: the exports, exactly three methods on the add-on\'s class, no call without new or on a foreign this', () => {
  const addon = require(path.join(repoRoot, 'build', 'Release', 'desktracks.node'));
  assert.deepEqual(Object.keys(addon),
    ['Recorder', 'stopRecording', 'pauseRecording', 'resumeRecording', 'getStatus', 'readVideoFrames', 'listCameras', 'listDisplays',
      'listMicDetails', 'recoverProject']);
  assert.deepEqual(Object.keys(require('../..')),
    ['Recorder', 'getStatus', 'listCameras', 'listDisplays', 'listMicDetails', 'recover', 'record', 'inspect', 'writeOverview', 'listMics', 'listDevices']);
  assert.deepEqual(Object.getOwnPropertyNames(addon.Recorder.prototype).sort(), ['constructor', 'end', 'getMics', 'start']);
  assert.deepEqual(Object.getOwnPropertyNames(Recorder.prototype).sort(), ['constructor', 'pause', 'resume', 'stop']);
  assert.ok(new Recorder() instanceof require('events').EventEmitter);
  for (const fn of ['stopRecording', 'pauseRecording', 'resumeRecording']) {
    for (const bad of [undefined, {}, new Date()]) {
      assert.throws(() => addon[fn](bad), { name: 'TypeError', message: 'Expected a Recorder as the first argument' });
    }
  }
  assert.throws(() => Recorder(), { name: 'TypeError', message: "Class constructors cannot be invoked without 'new'" });
  assert.throws(() => new Recorder().end.call({}));
  assert.throws(() => new Recorder().start.call(42, {}));
});

test('start rejects malformed options', async (t) => {
  const cwd = process.cwd();
  const dir = tempDir();
  process.chdir(dir);
  t.after(() => process.chdir(cwd));

  await t.test('each TypeError starts nothing; area elements read before the bad one stay, as an area not in force', () => {
    const recorder = new Recorder();
    const projectDir = tempDir();
    const cases = [
      ...[[], [null], [42], ['dir']].map((args) => [args, 'Expected an object as the first argument']),
      [[{ projectDir, area: '0,0,10,10' }], 'Area must be an array'],
      [[{ projectDir, area: [1, 2, 3] }], 'Area array must have exactly four elements'],
      [[{ projectDir, area: [10, 20, 'x', 40] }], 'Area array should contain only numbers'],
    ];
    for (const [args, message] of cases) assert.throws(() => recorder.start(...args), { name: 'TypeError', message });
    assert.deepEqual([fs.existsSync(path.join(dir, 'recorder.log')), fs.existsSync(path.join(projectDir, 'recorder.log'))],
      [false, false], 'nothing started');
    record(recorder, { projectDir }); // [10, 20, 0, 0] is stored: the whole output is recorded
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

  await t.test('a throwing getter surfaces as that exception and starts nothing; an empty object records into the current directory', () => {
    const recorder = new Recorder();
    const options = { projectDir: tempDir() };
    Object.defineProperty(options, 'fps', { get() { throw new RangeError('no fps today'); } });
    assert.throws(() => recorder.start(options), { name: 'RangeError', message: 'no fps today' });
    assert.equal(fs.existsSync(path.join(options.projectDir, 'recorder.log')), false);
    record(recorder, {}); // the same recorder still records, into the projectDir read before the throw
    assert.ok(fs.existsSync(path.join(options.projectDir, 'meta.json')));
    record(new Recorder(), {});
    const meta = readMeta(dir);
    assert.deepEqual([meta.micIndex, meta.systemAudioIndex, meta.rx], [-1, -1, [0, 0, 0, 0]]);
  });
});

test('between recordings area, micIndex and systemAudioIndex reset, projectDir, fps and bitrate stay, values of the wrong type are ignored, the log is appended', () => {
  const recorder = new Recorder();
  const projectDir = path.join(tempDir(), 'a', 'b', 'c'); // missing folders are created
  record(recorder, { projectDir, area: [0, 0, 320, 240], micIndex: 0, systemAudioIndex: 0, fps: 24 });
  let meta = readMeta(projectDir);
  assert.deepEqual([meta.micIndex, meta.systemAudioIndex, meta.rx], [0, 0, [0, 0, 320, 240]]);
  record(recorder, { projectDir: 42, micIndex: '0', systemAudioIndex: null, fps: '60' });
  meta = readMeta(projectDir);
  assert.deepEqual([meta.micIndex, meta.systemAudioIndex, meta.rx, meta.fps], [-1, -1, [0, 0, 0, 0], 24]);
  assert.deepEqual(endLines(projectDir), ['end', 'end', 'write end', 'end', 'end', 'write end']);
  assert.match(readLog(projectDir), /^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[basic_logger\] \[info\] /m);
});

test('meta.json: eleven sorted keys, indent 4, no final newline; end prints its quoted path once, an idle end nothing', () => {
  const projectDir = path.join(tempDir(), 'we\\ird "name"');
  const child = runNode(`const r = new Recorder(); r.end(); r.start({ projectDir: ${JSON.stringify(projectDir)} }); r.end(); r.end();`);
  assert.equal(child.status, 0, child.stderr);
  assert.equal(child.stdout, `${JSON.stringify(path.join(projectDir, 'meta.json'))}\n`);
  const text = fs.readFileSync(path.join(projectDir, 'meta.json'), 'utf8');
  assert.equal(text, JSON.stringify(JSON.parse(text), null, 4));
  assert.deepEqual(Object.keys(JSON.parse(text)), ['fps', 'height', 'micChannels', 'micIndex', 'micSimpleRate',
    'playbackChannels', 'playbackSimpleRate', 'rx', 'systemAudioIndex', 'time', 'width']);
});

test('getMics lists capture devices with gap-free indexes, the same twice', () => {
  const recorder = new Recorder();
  const mics = recorder.getMics();
  assert.deepEqual(mics, mics.map((mic, index) => ({ index, name: String(mic.name) })));
  assert.deepEqual(recorder.getMics(), mics);
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

  await t.test('a log that cannot be opened is an Error naming the path; nothing is left running', () => {
    const base = tempDir();
    fs.writeFileSync(path.join(base, 'file'), '');
    const projectDir = path.join(base, 'file', 'project');
    const recorder = new Recorder();
    assert.throws(() => recorder.start({ projectDir }), (err) => err.name === 'Error' && err.message.includes(path.join(projectDir, 'recorder.log')));
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
    assert.deepEqual(endLines(projectDir), ['end', 'end', 'write end']);
  });
});
