'use strict';
// The audio tracks against a real PulseAudio: tones played into the virtual microphone's sink
// "micsrc" and the default sink "speaker" come back in mivox.wav and output.wav.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { Recorder } = require('../..');
const { tempDir, readLog, runNode } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');
const { playTone } = require('./helpers/sound');

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

/** The samples of a track file, after checking its 44-byte 16 kHz mono 16-bit PCM header. */
function readTrack(file) {
  const b = fs.readFileSync(file);
  const header = [b.toString('latin1', 0, 4), b.readUInt32LE(4), b.toString('latin1', 8, 16), b.readUInt16LE(20)];
  header.push(b.readUInt16LE(22), b.readUInt32LE(24), b.readUInt16LE(34), b.toString('latin1', 36, 40), b.readUInt32LE(40));
  assert.deepEqual(header, ['RIFF', b.length - 8, 'WAVEfmt ', 1, 1, 16000, 16, 'data', b.length - 44], file);
  return new Int16Array(b.buffer.slice(b.byteOffset + 44, b.byteOffset + b.length));
}

/** The strongest frequency (10 Hz steps, 100-4000 Hz) of the middle half second, by Goertzel. */
function dominantFrequency(samples) {
  const start = Math.max(0, Math.floor(samples.length / 2 - 4000));
  let best = { hz: 0, power: -1 };
  for (let hz = 100; hz <= 4000; hz += 10) {
    const k = 2 * Math.cos((2 * Math.PI * hz) / 16000);
    let [s1, s2] = [0, 0];
    for (const x of samples.subarray(start, start + 8000)) [s1, s2] = [x + k * s1 - s2, s1];
    const power = s1 * s1 + s2 * s2 - k * s1 * s2;
    if (power > best.power) best = { hz, power };
  }
  return best.hz;
}

/** The log's mic:, playbackRecorder: and silent: lines as { time, level, message }. */
function audioLines(projectDir) {
  return [...readLog(projectDir).matchAll(/^\[([^\]]+)\] \[basic_logger\] \[([a-z]+)\] (.*)$/gm)]
    .map(([, stamp, level, message]) => ({ time: new Date(stamp.replace(' ', 'T')).getTime(), level, message }))
    .filter((entry) => /^(mic|playbackRecorder|silent): /.test(entry.message));
}
const audioErrors = (projectDir) =>
  audioLines(projectDir).filter((entry) => entry.level === 'error').map((entry) => entry.message).sort();
const virtualMicIndex = (recorder) => recorder.getMics().findIndex((mic) => mic.name === 'VirtualMic');

test('audio tracks', async (t) => {
  useTestServices();
  const stopTones = [playTone('micsrc', 440, 16000, 1), playTone('speaker', 1000, 48000, 2)];
  t.after(() => stopTones.forEach((stop) => stop()));
  await sleep(2500); // an idle null sink renders in blocks of up to two seconds

  await t.test('each tone is on its own track at full length; getMics while recording disturbs nothing', async () => {
    const recorder = new Recorder();
    const micIndex = virtualMicIndex(recorder);
    assert.ok(micIndex >= 0, 'the test services provide "VirtualMic"');
    const micsBefore = recorder.getMics();
    const projectDir = tempDir();
    const started = Date.now();
    recorder.start({ projectDir, micIndex, systemAudioIndex: 0 });
    for (let i = 0; i < 8; i++) {
      await sleep(500);
      assert.deepEqual(recorder.getMics(), micsBefore);
    }
    const endCalled = Date.now();
    const recordedMs = endCalled - started;
    recorder.end();

    for (const [file, hz] of [['mivox.wav', 440], ['output.wav', 1000]]) {
      const samples = readTrack(path.join(projectDir, file));
      const durationMs = samples.length / 16;
      assert.ok(Math.abs(durationMs - recordedMs) <= recordedMs * 0.05, `${file}: ${durationMs} ms of ${recordedMs} ms`);
      assert.equal(dominantFrequency(samples), hz, file);
    }
    // The keep-alive's set-up in order, no failure anywhere, and its end within about half a second of end().
    const lines = audioLines(projectDir);
    assert.deepEqual(
      lines.map((entry) => `${entry.level} ${entry.message}`),
      ['GetDefaultAudioEndpoint', 'Activate', 'Initialize', 'GetService', 'GetBuffer', 'ReleaseBuffer', 'Start', 'AudioCapture_Start']
        .map((step) => `info silent: ${step} success`)
    );
    assert.ok(lines[7].time - endCalled < 700, `the keep-alive stopped ${lines[7].time - endCalled} ms after end()`);
  });

  await t.test('end() right after start() returns promptly with complete files', () => {
    const recorder = new Recorder();
    const projectDir = tempDir();
    const before = Date.now();
    recorder.start({ projectDir, micIndex: virtualMicIndex(recorder), systemAudioIndex: 0 });
    recorder.end();
    assert.ok(Date.now() - before < 5000);
    for (const file of ['mivox.wav', 'output.wav']) readTrack(path.join(projectDir, file));
    assert.deepEqual(audioErrors(projectDir), []);
  });

  await t.test('a micIndex outside the device list is logged and records no microphone', () => {
    const recorder = new Recorder();
    const count = recorder.getMics().length;
    for (const micIndex of [count, -2]) {
      const projectDir = tempDir();
      recorder.start({ projectDir, micIndex, systemAudioIndex: 0 });
      recorder.end();
      assert.deepEqual(audioErrors(projectDir), [`mic: No capture device at micIndex ${micIndex} (${count} devices).`]);
      assert.equal(fs.existsSync(path.join(projectDir, 'mivox.wav')), false);
      readTrack(path.join(projectDir, 'output.wav'));
    }
  });

  await t.test('output files that cannot be created are logged and the recording goes on', () => {
    const recorder = new Recorder();
    const projectDir = tempDir();
    for (const file of ['mivox.wav', 'output.wav']) fs.mkdirSync(path.join(projectDir, file));
    recorder.start({ projectDir, micIndex: virtualMicIndex(recorder), systemAudioIndex: 0 });
    recorder.end();
    const errors = ['mic: Failed to initialize output file.', 'playbackRecorder: Failed to initialize output file.'];
    assert.deepEqual(audioErrors(projectDir), errors);
    assert.ok(fs.existsSync(path.join(projectDir, 'meta.json')));
  });

  await t.test('a system-audio device that cannot be opened leaves a valid empty output.wav', () => {
    const projectDir = tempDir();
    const child = runNode(
      `const r = new Recorder(); r.start({ projectDir: ${JSON.stringify(projectDir)}, systemAudioIndex: 0 });
       setTimeout(() => r.end(), 300);`,
      { env: { PULSE_SERVER: 'unix:/nonexistent/pulse/native' } } // no default sink to monitor
    );
    assert.equal(child.status, 0, child.stderr);
    assert.ok(audioErrors(projectDir).includes('playbackRecorder: Failed to initialize loopback device.'));
    assert.equal(readTrack(path.join(projectDir, 'output.wav')).length, 0);
  });
});
