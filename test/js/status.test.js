'use strict';
// getStatus() while a recording runs and after it: counts that grow, a level that follows the
// microphone, input records, and figures frozen at the end. (A track that fails: host-api.test.js.)
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const { Recorder, getStatus } = require('../..');
const { tempDir } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');
const { playTone } = require('./helpers/sound');

useTestServices();

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const virtualMic = () => new Recorder().getMics().find((m) => m.name === 'VirtualMic').index;

test('status during and after a recording', async (t) => {
  const recorder = new Recorder();
  const projectDir = tempDir();
  const stopTone = playTone('micsrc', 440, 16000, 1);
  t.after(stopTone);
  recorder.start({ projectDir, micIndex: virtualMic(), systemAudioIndex: 0 });
  const early = getStatus();
  await sleep(1500);
  for (const [x, y] of [[300, 300], [400, 350], [500, 400]]) {
    execFileSync('xdotool', ['mousemove', String(x), String(y)]);
    await sleep(30);
  }
  await sleep(300);
  const during = getStatus();
  stopTone();
  // The sound server may still hold some of the tone: wait for silence, within a generous bound.
  let quiet = getStatus();
  for (let waited = 0; waited < 3000 && quiet.microphone.peak >= 0.01; waited += 100) {
    await sleep(100);
    quiet = getStatus();
  }
  recorder.end();
  const after = getStatus();
  await sleep(200);

  await t.test('while recording the counts grow from zero', () => {
    assert.equal(early.recording, true);
    assert.ok(early.elapsedMs < 500, `${early.elapsedMs}`);
    assert.equal(during.recording, true);
    assert.ok(during.elapsedMs >= 1800 && during.elapsedMs < 10000, `${during.elapsedMs}`);
    assert.ok(during.screen.samples > early.screen.samples && during.screen.samplesLastSecond > 0, JSON.stringify(during.screen));
    assert.ok(during.screen.samplesLastSecond <= during.screen.samples);
    // At least a second of audio on each track (16000 frames a second).
    assert.ok(during.microphone.frames > 16000 && during.systemAudio.frames > 16000, JSON.stringify(during));
    assert.ok(during.input.events >= 3, `${during.input.events} input records`);
    assert.deepEqual(during.failures, []);
  });

  await t.test('the peak follows the sound: the tone, then silence', () => {
    // The tone's amplitude is 12000 of 32768.
    assert.ok(Math.abs(during.microphone.peak - 12000 / 32768) < 0.05, `${during.microphone.peak}`);
    assert.ok(quiet.microphone.peak < 0.01, `${quiet.microphone.peak}`);
    assert.ok(during.systemAudio.peak < 0.01, `${during.systemAudio.peak}`);
  });

  await t.test('after end the status holds the recording\'s final figures', () => {
    assert.equal(after.recording, false);
    const positions = JSON.parse(fs.readFileSync(path.join(projectDir, 'positions.json'), 'utf8'));
    const clicks = JSON.parse(fs.readFileSync(path.join(projectDir, 'clicks.json'), 'utf8'));
    assert.equal(after.input.events, positions.length + clicks.length);
    const later = getStatus();
    assert.deepEqual({ ...later, screen: { ...later.screen, samplesLastSecond: 0 } },
      { ...after, screen: { ...after.screen, samplesLastSecond: 0 } });
    const header = fs.readFileSync(path.join(projectDir, 'mivox.wav'));
    assert.equal(after.microphone.frames, (header.length - 44) / 2);
  });
});
