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
const { readWav } = require('../../lib/wav-file');
const { playTone } = require('../js/helpers/sound');
const { readJson } = require('../js/helpers/project');
const { startWindowsNode, runWindowsNode, waitForSignal, signalWindows, winPath, logLines } = require('./helpers/wine');

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
// The samples of mivox.wav, which must be a complete 16-bit mono 16000 Hz track.
const micSamples = (project) => readWav(path.join(project, 'mivox.wav'), { withSamples: true }).samples;

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
  const stopTone = playTone('micsrc', 440, 16000, 1);
  await pause(3000);
  stopTone();
  signalWindows(windows.syncDir, 'stop');
  const run = await windows.done;
  assert.equal(run.status, 0, run.stderr);
  const log = logLines(project);

  await t.test('getMics lists the PulseAudio sources through WASAPI; the microphone track holds the tone played into one', () => {
    const { mics } = run.results;
    assert.ok(mics.some((mic) => mic.name.includes('VirtualMic')) && mics.every((mic, i) => mic.index === i), JSON.stringify(mics));
    const samples = micSamples(project);
    const loud = samples.filter((s) => Math.abs(s) > 4000).length;
    assert.ok(samples.length > 16000 && loud > 4000, `${loud} loud of ${samples.length} samples`);
  });

  await t.test('the keep-alive runs its whole WASAPI sequence', () => {
    const steps = ['GetDefaultAudioEndpoint', 'Activate', 'Initialize', 'GetService', 'GetBuffer', 'ReleaseBuffer', 'Start', 'AudioCapture_Start'];
    assert.deepEqual(log.filter((line) => line.includes('silent: ')), steps.map((step) => `info silent: ${step} success`));
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

  await t.test('user32 measures the standard cursors into cursor_info.json; the input track and meta.json are written as usual', () => {
    const info = readJson(project, 'cursor_info.json');
    for (const name of ['Arrow', 'IBeam', 'Hand', 'Wait']) assert.ok(info[name]?.width > 0 && info[name].height > 0, `${name} in ${JSON.stringify(info)}`);
    for (const file of ['positions.json', 'clicks.json']) assert.ok(Array.isArray(readJson(project, file)), file);
    const meta = readJson(project, 'meta.json');
    assert.ok(meta.systemAudioIndex === 0 && meta.micIndex >= 0, JSON.stringify(meta));
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
  assert.ok(micSamples(project).length > 8000);
  for (const file of ['positions.json', 'clicks.json', 'cursor_info.json', 'meta.json']) assert.ok(fs.existsSync(path.join(project, file)), file);
});

test('the display option picks a DXGI output, and one that does not exist is said so', async () => {
  const chosen = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-win-'));
  const missing = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-win-'));
  const run = await runWindowsNode(`
    const recorder = new Recorder();
    recorder.start({ projectDir: ${JSON.stringify(winPath(chosen))}, display: 0, micIndex: -1, systemAudioIndex: -1 });
    sleep(800);
    recorder.end();
    recorder.start({ projectDir: ${JSON.stringify(winPath(missing))}, display: 9, micIndex: -1, systemAudioIndex: -1 });
    sleep(800);
    recorder.end();
  `);
  assert.equal(run.status, 0, run.stderr);
  const first = logLines(chosen);
  // Wine duplicates nothing: the chosen output gets as far as DuplicateOutput.
  assert.ok(first.some((line) => line.startsWith('info Selected Adapter: ')), first.join('\n'));
  assert.ok(first.includes('error screenRecorder: Operation failed. HRESULT: 0x80004001, Message: Not implemented.'), first.join('\n'));
  assert.equal(readJson(chosen, 'tracks.json').tracks.find((e) => e.kind === 'screen').device, 'display 0');
  const second = logLines(missing);
  assert.ok(/^error screenRecorder: display 9 does not exist; listDisplays\(\) lists \d+$/.test(second.find((l) => l.includes('display 9')) ?? ''),
    second.join('\n'));
});
