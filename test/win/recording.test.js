'use strict';
// One recording with every track asked for, through the Windows code under Wine against the test
// services' PulseAudio: WASAPI (through miniaudio) lists and records the microphone, the
// keep-alive's own WASAPI stream runs its whole sequence, and the user32 cursor catalogue is
// measured. Wine lacks desktop duplication and WASAPI loopback, so the screen and system-audio
// tracks must fail with their own lines while every other track records. Then the same with
// Media Foundation missing (as on Windows N): the add-on still loads and records.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn } = require('child_process');
const { startWindowsNode, runWindowsNode, waitForSignal, signalWindows, winPath, logLines } = require('./helpers/wine');

/** The samples of a 16-bit mono 16000 Hz WAV file; throws on any other format. */
function wavSamples(file) {
  const b = fs.readFileSync(file);
  assert.equal(b.toString('latin1', 0, 4), 'RIFF');
  let at = 12;
  let samples;
  while (at + 8 <= b.length) {
    const id = b.toString('latin1', at, at + 4);
    const size = b.readUInt32LE(at + 4);
    if (id === 'fmt ') {
      assert.deepEqual([b.readUInt16LE(at + 8), b.readUInt16LE(at + 10), b.readUInt32LE(at + 12), b.readUInt16LE(at + 22)], [1, 1, 16000, 16]);
    } else if (id === 'data') {
      samples = new Int16Array(b.buffer.slice(b.byteOffset + at + 8, b.byteOffset + at + 8 + size));
    }
    at += 8 + size + (size & 1);
  }
  return samples;
}

/** Plays a 440 Hz tone into the virtual microphone's source for `seconds`. */
function playTone(seconds) {
  const tone = Buffer.alloc(16000 * 2 * seconds);
  for (let i = 0; i < tone.length / 2; i++) tone.writeInt16LE(Math.round(12000 * Math.sin((2 * Math.PI * 440 * i) / 16000)), i * 2);
  const player = spawn('pacat', ['-p', '-d', 'micsrc', '--rate=16000', '--channels=1', '--format=s16le'], { stdio: ['pipe', 'ignore', 'inherit'] });
  player.stdin.end(tone);
  return new Promise((resolve) => player.on('exit', resolve));
}

test('a recording with every track asked for', async (t) => {
  const project = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-win-'));
  const windows = startWindowsNode(`
    const recorder = new Recorder();
    const mics = recorder.getMics();
    report('mics', mics);
    const micIndex = mics.findIndex((mic) => mic.name.includes('VirtualMic'));
    recorder.start({ projectDir: ${JSON.stringify(winPath(project))}, micIndex, systemAudioIndex: 0, webcamIndex: -1 });
    signal('recording');
    waitFor('stop');
    recorder.end();
  `);
  await waitForSignal(windows.syncDir, 'recording');
  await playTone(3);
  signalWindows(windows.syncDir, 'stop');
  const run = await windows.done;
  assert.equal(run.status, 0, run.stderr);
  const log = logLines(project);

  await t.test('getMics lists the PulseAudio sources through WASAPI', () => {
    assert.ok(run.results.mics.some((mic) => mic.name.includes('VirtualMic')), JSON.stringify(run.results.mics));
    run.results.mics.forEach((mic, i) => assert.equal(mic.index, i));
  });

  await t.test('the microphone track holds the tone played into the virtual microphone', () => {
    const samples = wavSamples(path.join(project, 'mivox.wav'));
    assert.ok(samples.length > 16000, `${samples.length} samples`);
    const loud = samples.filter((s) => Math.abs(s) > 4000).length;
    assert.ok(loud > 4000, `${loud} loud samples`);
  });

  await t.test('the keep-alive runs its whole WASAPI sequence', () => {
    const silent = log.filter((line) => line.includes('silent: '));
    assert.deepEqual(silent, [
      'info silent: GetDefaultAudioEndpoint success',
      'info silent: Activate success',
      'info silent: Initialize success',
      'info silent: GetService success',
      'info silent: GetBuffer success',
      'info silent: ReleaseBuffer success',
      'info silent: Start success',
      'info silent: AudioCapture_Start success',
    ]);
  });

  await t.test('the loopback recorder fails with its own line (Wine has no WASAPI loopback)', () => {
    assert.ok(log.includes('error playbackRecorder: Failed to initialize loopback device.'), log.join('\n'));
  });

  await t.test('the screen sets up Direct3D 11 up to the duplication Wine refuses', () => {
    const screen = log.filter((line) => /screenRecorder|D3D11|adapter/i.test(line));
    const expected = [
      'info screenRecorder: VIDEO_FPS: 30',
      'info screenRecorder: VIDEO_BIT_RATE: 18000000',
      'error screenRecorder: DuplicateOutput failed',
      'error screenRecorder: Operation failed. HRESULT: 0x80004001, Message: Not implemented.',
      'error screenRecorder: prepare failed',
    ];
    for (const line of expected) assert.ok(screen.includes(line), `${line}\nin\n${screen.join('\n')}`);
    assert.ok(screen.some((line) => line.startsWith('info D3D11 device created successfully.')), screen.join('\n'));
    assert.equal(fs.existsSync(path.join(project, 'output.mp4')), false);
  });

  await t.test('user32 measures the standard cursors into cursor_info.json', () => {
    const info = JSON.parse(fs.readFileSync(path.join(project, 'cursor_info.json'), 'utf8'));
    for (const name of ['Arrow', 'IBeam', 'Hand', 'Wait']) {
      assert.ok(info[name], `${name} in ${Object.keys(info)}`);
      assert.ok(info[name].width > 0 && info[name].height > 0, name);
    }
  });

  await t.test('the input track and meta.json are written as usual', () => {
    for (const file of ['positions.json', 'clicks.json']) assert.ok(Array.isArray(JSON.parse(fs.readFileSync(path.join(project, file), 'utf8'))), file);
    const meta = JSON.parse(fs.readFileSync(path.join(project, 'meta.json'), 'utf8'));
    assert.equal(meta.systemAudioIndex, 0);
    assert.ok(meta.micIndex >= 0);
    assert.equal(log.at(-1), 'info write end');
  });
});

test('without Media Foundation the add-on loads, records audio and input, and the screen says why', async () => {
  const project = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-win-'));
  const run = await runWindowsNode(
    `
    const recorder = new Recorder();
    const micIndex = recorder.getMics().findIndex((mic) => mic.name.includes('VirtualMic'));
    report('micIndex', micIndex);
    recorder.start({ projectDir: ${JSON.stringify(winPath(project))}, micIndex });
    sleep(1500);
    recorder.end();
    `,
    { env: { WINEDLLOVERRIDES: `${process.env.WINEDLLOVERRIDES};mfplat=` } }
  );
  assert.equal(run.status, 0, run.stderr);
  assert.ok(run.results.micIndex >= 0);
  const screen = logLines(project).filter((line) => line.includes('screenRecorder'));
  assert.deepEqual(screen.slice(2), [
    'error screenRecorder: Media Foundation is not available (MFPlat.DLL cannot be loaded, error 126); no screen video is recorded',
  ]);
  assert.ok(wavSamples(path.join(project, 'mivox.wav')).length > 8000);
  for (const file of ['positions.json', 'clicks.json', 'cursor_info.json', 'meta.json']) assert.ok(fs.existsSync(path.join(project, file)), file);
});
