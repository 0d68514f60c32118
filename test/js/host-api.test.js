'use strict';
// What an app builds on: a track's failures, losses and returns as events with codes, a stop()
// that finishes the files off the JavaScript thread, and pause()/resume().
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { Recorder, getStatus } = require('../..');
const { tempDir, readJson, readLog, logMessages, runNode } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');

useTestServices();

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const endLines = (dir) => logMessages(dir).filter((m) => ['end', 'write end'].includes(m));
const trackOf = (dir, kind) => readJson(dir, 'tracks.json').tracks.find((e) => e.kind === kind);

test('a failing track is emitted as it happens, with the code and message of the status and tracks.json', async () => {
  const recorder = new Recorder();
  const heard = [];
  for (const kind of ['failure', 'lost', 'back', 'outage', 'warning']) recorder.on(kind, (e) => heard.push({ kind, ...e }));
  const projectDir = tempDir();
  const before = Date.now();
  recorder.start({ projectDir, micIndex: 99 });
  for (let i = 0; i < 100 && !heard.length; i++) await sleep(20);
  const during = getStatus();
  await recorder.stop();

  assert.equal(heard.length, 1, JSON.stringify(heard));
  const [event] = heard;
  assert.deepEqual([event.kind, event.track, event.code], ['failure', 'microphone', 'openFailed']);
  assert.ok(event.time >= before - 1 && event.time <= Date.now(), `time ${event.time}`);
  assert.equal(during.recording, true, 'heard while recording');
  assert.deepEqual(during.failures, [{ track: 'microphone', code: 'openFailed', message: event.message }]);
  const mic = trackOf(projectDir, 'microphone');
  assert.deepEqual([mic.status, mic.code, mic.reason], ['failed', 'openFailed', event.message]);
  assert.match(readLog(projectDir), new RegExp(`\\[error\\] ${event.message.replace(/[()]/g, '\\$&')}\n`));
  assert.deepEqual([trackOf(projectDir, 'screen').code, trackOf(projectDir, 'screen').status], [null, 'recorded']);
});

test('a listener that throws reaches the process like any uncaught error; the recording goes on', () => {
  const projectDir = tempDir();
  const run = runNode(`const r = new Recorder();
    process.on('uncaughtException', (err) => console.log('caught', err.message));
    r.on('failure', () => { throw new Error('listener broke'); });
    r.start({ projectDir: ${JSON.stringify(projectDir)}, micIndex: 99 });
    setTimeout(() => r.stop().then(() => console.log('stopped')), 800);`);
  assert.equal(run.status, 0, run.stderr);
  assert.deepEqual(run.stdout.trim().split('\n').filter((l) => !l.startsWith('"')), ['caught listener broke', 'stopped']);
  assert.equal(trackOf(projectDir, 'screen').status, 'recorded');
});

test('stop()', async (t) => {
  await t.test('settles once every file is complete, is the same promise while under way, then refuses', async () => {
    const recorder = new Recorder();
    const projectDir = tempDir();
    recorder.start({ projectDir, systemAudioIndex: 0 });
    await sleep(800);
    const promise = recorder.stop();
    assert.equal(recorder.stop(), promise);
    assert.equal(getStatus().recording, true, 'returns before the files are finished');
    await promise;
    assert.equal(getStatus().recording, false);
    assert.ok(fs.existsSync(path.join(projectDir, 'meta.json')));
    assert.ok(fs.existsSync(path.join(projectDir, 'output.wav')));
    assert.deepEqual(endLines(projectDir), ['end', 'end', 'write end']);
    await assert.rejects(recorder.stop(), { name: 'Error', message: 'No recording is running' });
    await assert.rejects(new Recorder().stop(), { message: 'No recording is running' });
    const again = tempDir();
    recorder.start({ projectDir: again });
    await recorder.stop();
    assert.deepEqual(endLines(again), ['end', 'end', 'write end']);
  });

  await t.test('start() during a stop is refused; end() waits for it and the promise still resolves', async () => {
    const recorder = new Recorder();
    const projectDir = tempDir();
    recorder.start({ projectDir });
    await sleep(500);
    const promise = recorder.stop();
    assert.throws(() => recorder.start({ projectDir: tempDir() }), { message: /still stopping/ });
    assert.throws(() => new Recorder().start({ projectDir: tempDir() }), { message: /already running/ });
    recorder.end();
    assert.ok(fs.existsSync(path.join(projectDir, 'meta.json')), 'end() returned with the files complete');
    await promise;
    assert.deepEqual(endLines(projectDir), ['end', 'end', 'write end']);
  });

  await t.test('the process stays up until the files are complete; the meta.json line is printed once', () => {
    const projectDir = tempDir();
    const run = runNode(`const r = new Recorder();
      r.start({ projectDir: ${JSON.stringify(projectDir)} });
      setTimeout(() => { r.stop().then(() => console.log('resolved')); }, 500);`);
    assert.equal(run.status, 0, run.stderr);
    assert.deepEqual(run.stdout.trim().split('\n'), [JSON.stringify(path.join(projectDir, 'meta.json')), 'resolved']);
  });

  await t.test('process.exit() during a stop still completes the files', () => {
    const projectDir = tempDir();
    const run = runNode(`const r = new Recorder();
      r.start({ projectDir: ${JSON.stringify(projectDir)} });
      setTimeout(() => { r.stop(); process.exit(0); }, 500);`);
    assert.equal(run.status, 0, run.stderr);
    assert.ok(fs.existsSync(path.join(projectDir, 'meta.json')));
    assert.deepEqual(endLines(projectDir), ['end', 'end', 'write end']);
  });
});
