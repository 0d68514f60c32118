'use strict';
// The audio tracks against a real PulseAudio: the microphone (mivox.wav) and the system audio
// (output.wav) as 16 kHz mono 16-bit WAV files carrying what was played, the silent keep-alive's
// log, and the failure lines. Tones are played into the virtual microphone's sink "micsrc" and
// into the default sink "speaker".
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawn } = require('child_process');
const { Recorder } = require('../..');
const { tempDir, readLog, runNode } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');

const MIC_TONE_HZ = 440;
const SPEAKER_TONE_HZ = 1000;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

/** Plays a sine tone of `seconds` into a PulseAudio sink until stopped. */
function playTone(sink, hz, { rate, channels, seconds = 60 }) {
  const frames = rate * seconds;
  const pcm = Buffer.alloc(frames * channels * 2);
  for (let i = 0; i < frames; i++) {
    const sample = Math.round(12000 * Math.sin((2 * Math.PI * hz * i) / rate));
    for (let c = 0; c < channels; c++) pcm.writeInt16LE(sample, (i * channels + c) * 2);
  }
  const file = path.join(tempDir('desktracks-tone-'), 'tone.raw');
  fs.writeFileSync(file, pcm);
  const player = spawn(
    'pacat',
    ['-p', '-d', sink, `--rate=${rate}`, `--channels=${channels}`, '--format=s16le', '--latency-msec=20', file],
    { stdio: 'ignore' }
  );
  return () => {
    player.kill();
    fs.rmSync(path.dirname(file), { recursive: true, force: true });
  };
}

/** Header fields and samples of a WAV file; throws on anything but a plain PCM RIFF/WAVE. */
function readWav(file) {
  const bytes = fs.readFileSync(file);
  assert.equal(bytes.toString('latin1', 0, 4), 'RIFF');
  assert.equal(bytes.toString('latin1', 8, 12), 'WAVE');
  assert.equal(bytes.readUInt32LE(4), bytes.length - 8, 'RIFF size completed');
  const wav = {};
  for (let at = 12; at + 8 <= bytes.length; ) {
    const id = bytes.toString('latin1', at, at + 4);
    const size = bytes.readUInt32LE(at + 4);
    if (id === 'fmt ') {
      wav.formatTag = bytes.readUInt16LE(at + 8);
      wav.channels = bytes.readUInt16LE(at + 10);
      wav.sampleRate = bytes.readUInt32LE(at + 12);
      wav.bitsPerSample = bytes.readUInt16LE(at + 22);
    } else if (id === 'data') {
      assert.equal(at + 8 + size, bytes.length, 'data size completed');
      wav.samples = new Int16Array(bytes.buffer.slice(bytes.byteOffset + at + 8, bytes.byteOffset + at + 8 + size));
    }
    at += 8 + size + (size & 1);
  }
  assert.ok(wav.samples, 'data chunk present');
  return wav;
}

function assertTrackFormat(wav) {
  assert.deepEqual(
    { formatTag: wav.formatTag, channels: wav.channels, sampleRate: wav.sampleRate, bitsPerSample: wav.bitsPerSample },
    { formatTag: 1, channels: 1, sampleRate: 16000, bitsPerSample: 16 }
  );
}

/** The strongest frequency (10 Hz steps, 100-4000 Hz) of half a second from the middle, by Goertzel. */
function dominantFrequency(samples, sampleRate) {
  const length = sampleRate / 2;
  const start = Math.max(0, Math.floor(samples.length / 2 - length / 2));
  const window = samples.subarray(start, start + length);
  let best = { hz: 0, power: -1 };
  for (let hz = 100; hz <= 4000; hz += 10) {
    const coefficient = 2 * Math.cos((2 * Math.PI * hz) / sampleRate);
    let previous = 0;
    let beforePrevious = 0;
    for (const sample of window) {
      const current = sample + coefficient * previous - beforePrevious;
      beforePrevious = previous;
      previous = current;
    }
    const power = previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    if (power > best.power) best = { hz, power };
  }
  return best.hz;
}

/** [{ time, level, message }] of recorder.log. */
function logEntries(projectDir) {
  return readLog(projectDir)
    .split('\n')
    .filter(Boolean)
    .map((line) => {
      const [, stamp, level, message] = line.match(/^\[([^\]]+)\] \[basic_logger\] \[([a-z]+)\] (.*)$/);
      return { time: new Date(stamp.replace(' ', 'T')).getTime(), level, message };
    });
}

const audioLines = (projectDir) =>
  logEntries(projectDir).filter((entry) => /^(mic: |playbackRecorder: |silent: )/.test(entry.message));

function virtualMicIndex(recorder) {
  const index = recorder.getMics().findIndex((mic) => mic.name === 'VirtualMic');
  assert.ok(index >= 0, 'the test services provide "VirtualMic"');
  return index;
}

test('audio tracks', async (t) => {
  useTestServices();
  const stopMicTone = playTone('micsrc', MIC_TONE_HZ, { rate: 16000, channels: 1 });
  const stopSpeakerTone = playTone('speaker', SPEAKER_TONE_HZ, { rate: 48000, channels: 2 });
  t.after(() => {
    stopMicTone();
    stopSpeakerTone();
  });
  // An idle null sink renders in blocks of up to two seconds; let the tones bring it to speed.
  await sleep(2500);

  await t.test('a recording holds each tone on its own track, in the track format and at full length', async () => {
    const recorder = new Recorder();
    const micIndex = virtualMicIndex(recorder);
    const micsBefore = recorder.getMics();
    const projectDir = tempDir();

    const started = Date.now();
    recorder.start({ projectDir, micIndex, systemAudioIndex: 0 });
    // Listing the microphones while recording opens no device and disturbs neither track.
    for (let i = 0; i < 8; i++) {
      await sleep(500);
      assert.deepEqual(recorder.getMics(), micsBefore);
    }
    const recordedMs = Date.now() - started;
    recorder.end();

    for (const [file, hz] of [
      ['mivox.wav', MIC_TONE_HZ],
      ['output.wav', SPEAKER_TONE_HZ],
    ]) {
      const wav = readWav(path.join(projectDir, file));
      assertTrackFormat(wav);
      const durationMs = (wav.samples.length / 16000) * 1000;
      assert.ok(Math.abs(durationMs - recordedMs) <= recordedMs * 0.05, `${file}: ${durationMs} ms of ${recordedMs} ms`);
      assert.equal(dominantFrequency(wav.samples, 16000), hz, file);
    }

    // The keep-alive's set-up in order, its end after the recording, and no failure anywhere.
    assert.deepEqual(
      audioLines(projectDir).map((entry) => `${entry.level} ${entry.message}`),
      [
        'info silent: GetDefaultAudioEndpoint success',
        'info silent: Activate success',
        'info silent: Initialize success',
        'info silent: GetService success',
        'info silent: GetBuffer success',
        'info silent: ReleaseBuffer success',
        'info silent: Start success',
        'info silent: AudioCapture_Start success',
      ]
    );
  });

  await t.test('the keep-alive stops within about half a second of end()', async () => {
    const recorder = new Recorder();
    const projectDir = tempDir();
    recorder.start({ projectDir, systemAudioIndex: 3 });
    await sleep(1200);
    const endCalled = Date.now();
    recorder.end();
    const stopped = audioLines(projectDir).find((entry) => entry.message === 'silent: AudioCapture_Start success');
    assert.ok(stopped, 'the keep-alive ended');
    assert.ok(stopped.time - endCalled < 700, `stopped ${stopped.time - endCalled} ms after end()`);
    assert.equal(fs.existsSync(path.join(projectDir, 'mivox.wav')), false, 'no microphone track was asked for');
  });

  await t.test('end() right after start() returns promptly with complete files', () => {
    const recorder = new Recorder();
    const micIndex = virtualMicIndex(recorder);
    const projectDir = tempDir();
    const before = Date.now();
    recorder.start({ projectDir, micIndex, systemAudioIndex: 0 });
    recorder.end();
    assert.ok(Date.now() - before < 5000);
    for (const file of ['mivox.wav', 'output.wav']) assertTrackFormat(readWav(path.join(projectDir, file)));
    assert.equal(audioLines(projectDir).filter((entry) => entry.level === 'error').length, 0);
  });

  await t.test('without a system-audio track neither the keep-alive nor output.wav exists', () => {
    const recorder = new Recorder();
    const projectDir = tempDir();
    recorder.start({ projectDir, micIndex: virtualMicIndex(recorder) });
    recorder.end();
    assert.equal(fs.existsSync(path.join(projectDir, 'output.wav')), false);
    assert.ok(fs.existsSync(path.join(projectDir, 'mivox.wav')));
    assert.deepEqual(audioLines(projectDir), []);
  });

  await t.test('a micIndex outside the device list is logged and records nothing', () => {
    const recorder = new Recorder();
    const count = recorder.getMics().length;
    for (const micIndex of [count, 1000, -2]) {
      const projectDir = tempDir();
      recorder.start({ projectDir, micIndex, systemAudioIndex: 0 });
      recorder.end();
      assert.deepEqual(
        audioLines(projectDir)
          .filter((entry) => entry.level === 'error')
          .map((entry) => entry.message),
        [`mic: No capture device at micIndex ${micIndex} (${count} devices).`]
      );
      assert.equal(fs.existsSync(path.join(projectDir, 'mivox.wav')), false);
      assertTrackFormat(readWav(path.join(projectDir, 'output.wav')));
    }
  });

  await t.test('output files that cannot be created are logged and the recording goes on', () => {
    const recorder = new Recorder();
    const projectDir = tempDir();
    fs.mkdirSync(path.join(projectDir, 'mivox.wav'));
    fs.mkdirSync(path.join(projectDir, 'output.wav'));
    recorder.start({ projectDir, micIndex: virtualMicIndex(recorder), systemAudioIndex: 0 });
    recorder.end();
    const errors = audioLines(projectDir)
      .filter((entry) => entry.level === 'error')
      .map((entry) => entry.message)
      .sort();
    assert.deepEqual(errors, ['mic: Failed to initialize output file.', 'playbackRecorder: Failed to initialize output file.']);
    assert.ok(fs.statSync(path.join(projectDir, 'mivox.wav')).isDirectory());
    assert.ok(fs.existsSync(path.join(projectDir, 'meta.json')));
  });

  await t.test('a system-audio device that cannot be opened leaves a valid empty output.wav', () => {
    const projectDir = tempDir();
    // No sound server: there is no default sink whose monitor could be recorded.
    const child = runNode(
      `const r = new Recorder(); r.start({ projectDir: ${JSON.stringify(projectDir)}, systemAudioIndex: 0 });
       setTimeout(() => r.end(), 300);`,
      { env: { PULSE_SERVER: 'unix:/nonexistent/pulse/native' } }
    );
    assert.equal(child.status, 0, child.stderr);
    assert.ok(
      audioLines(projectDir).some(
        (entry) => entry.level === 'error' && entry.message === 'playbackRecorder: Failed to initialize loopback device.'
      )
    );
    const wav = readWav(path.join(projectDir, 'output.wav'));
    assertTrackFormat(wav);
    assert.equal(wav.samples.length, 0);
  });
});
