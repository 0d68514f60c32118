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

test('a failing track is emitted as it happens, with the code and message of the status and tracks.json; the next start begins from zero', async () => {
  const recorder = new Recorder();
  const heard = [];
  for (const kind of ['failure', 'lost', 'back', 'outage', 'warning']) recorder.on(kind, (e) => heard.push({ kind, ...e }));
  const projectDir = tempDir();
  const before = Date.now();
  recorder.start({ projectDir, micIndex: 99 });
  for (let i = 0; i < 100 && !heard.length; i++) await sleep(20);
  const during = getStatus();
  await sleep(500);
  await recorder.stop();
  const ended = getStatus();

  assert.equal(heard.length, 1, JSON.stringify(heard));
  const [event] = heard;
  assert.deepEqual([event.kind, event.track, event.code], ['failure', 'microphone', 'openFailed']);
  assert.ok(event.time >= before - 1 && event.time <= Date.now(), `time ${event.time}`);
  assert.equal(during.recording, true, 'heard while recording');
  assert.deepEqual(during.failures, [{ track: 'microphone', code: 'openFailed', message: event.message }]);
  const mic = trackOf(projectDir, 'microphone');
  assert.deepEqual([mic.status, mic.code, mic.reason], ['failed', 'openFailed', event.message]);
  assert.match(readLog(projectDir), new RegExp(`\\[error\\] ${event.message.replace(/[()]/g, '\\$&')}\n`));
  assert.equal(trackOf(projectDir, 'screen').code, null);
  // The next recording's status begins from zero.
  recorder.start({ projectDir: tempDir() });
  const fresh = getStatus();
  await recorder.stop();
  assert.deepEqual([fresh.failures, fresh.microphone.frames, fresh.recording], [[], 0, true]);
  assert.ok(fresh.screen.samples < ended.screen.samples, `${fresh.screen.samples} of ${ended.screen.samples}`);
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

test('pause() and resume(): every track leaves the paused second out and goes on where it stopped', async (t) => {
  const { execFileSync } = require('child_process');
  const { playTone } = require('./helpers/sound');
  const stopTones = [playTone('micsrc', 440, 16000, 1), playTone('speaker', 1000, 48000, 2)];
  t.after(() => stopTones.forEach((stop) => stop()));
  await sleep(300);
  const recorder = new Recorder();
  const projectDir = tempDir();
  const micIndex = recorder.getMics().findIndex((m) => m.name === 'VirtualMic');
  assert.equal(recorder.pause(), false, 'nothing to pause');
  const started = Date.now();
  recorder.start({ projectDir, micIndex, systemAudioIndex: 0 });
  const moveMouse = async (from) => {
    for (let i = 0; i < 8; i++) {
      execFileSync('xdotool', ['mousemove', String(from + i * 10), '200']);
      await sleep(40);
    }
  };
  await sleep(700);
  await moveMouse(100);
  const pausedAt = Date.now();
  assert.deepEqual([recorder.pause(), recorder.pause()], [true, false]);
  const during = getStatus();
  await moveMouse(300);
  await sleep(700);
  const resumedAt = Date.now();
  const resumedStatus = [getStatus().pausedMs, recorder.resume(), recorder.resume()];
  await moveMouse(500);
  await sleep(700);
  const stopCalled = Date.now();
  await recorder.stop();
  const stopped = Date.now();
  const after = getStatus();

  const tracks = readJson(projectDir, 'tracks.json');
  const kinds = Object.fromEntries(tracks.tracks.map((e) => [e.kind, e]));
  assert.equal(tracks.pauses.length, 1);
  const [pause] = tracks.pauses;
  const pausedMs = pause.end - pause.start;
  assert.ok(Math.abs(pausedMs - (resumedAt - pausedAt)) < 50, `paused ${pausedMs} ms of ${resumedAt - pausedAt} ms`);
  assert.ok(Math.abs(pause.start - pausedAt) < 50 && pause.end < stopCalled);
  assert.deepEqual([during.paused, during.pauses.length, during.pauses[0].end], [true, 1, null]);
  assert.ok(Math.abs(resumedStatus[0] - (resumedAt - pausedAt)) < 50, `pausedMs ${resumedStatus[0]}`);
  assert.deepEqual(resumedStatus.slice(1), [true, false]);
  assert.equal(after.paused, false);
  assert.deepEqual(after.pauses.map((p) => [p.start, p.end]), [[pause.start, pause.end]]);

  // Each media track lasts from its first sample to the stop less the pause: no gap of its own.
  for (const kind of ['screen', 'microphone', 'systemAudio']) {
    const track = kinds[kind];
    assert.equal(track.status, 'recorded', `${kind}: ${track.reason}`);
    // A track ends while the files are finished: between the stop's call and its settling.
    const [from, upTo] = [stopCalled - track.start - pausedMs - 300, stopped - track.start - pausedMs + 50];
    assert.ok(track.duration > from && track.duration < upTo, `${kind}: ${track.duration} ms, not ${from}-${upTo} ms`);
    // The pause is not taken for frames the device failed to deliver (a loaded machine loses some).
    if (kind !== 'screen') assert.ok(track.lost < pausedMs * 16 / 2, `${kind}: ${track.lost} frames lost`);
  }
  const times = execFileSync('ffprobe', ['-v', 'error', '-select_streams', 'v', '-show_entries', 'packet=pts_time', '-of', 'csv=p=0',
    path.join(projectDir, 'output.mp4')], { encoding: 'utf8' }).trim().split('\n').map(Number).sort((a, b) => a - b);
  const gaps = times.slice(1).map((time, i) => time - times[i]);
  // A loaded machine's screen loop may fall behind for a moment, never for the paused second.
  assert.ok(Math.max(...gaps) * 1000 < pausedMs - 300, `largest gap between samples ${Math.max(...gaps)} s`);
  // No input record was taken while paused; those before and after are there.
  const positions = readJson(projectDir, 'positions.json');
  assert.deepEqual(positions.filter((r) => r.time >= pause.start && r.time <= pause.end), []);
  assert.ok(positions.some((r) => r.time < pause.start) && positions.some((r) => r.time > pause.end), `${positions.length} records`);
  assert.deepEqual(endLines(projectDir), ['end', 'end', 'write end']);
});
