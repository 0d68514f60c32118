'use strict';
// Where tracks.json places a beep in mivox.wav and output.wav against the moment the sound server
// played it (bench/audio/beep.c: its write plus the latency the server reports for everything
// queued ahead of it). Needs the test services' PulseAudio (PULSE_SERVER) and a built add-on.
//
//   node bench/audio/alignment.js [runs=10]
const fs = require('fs');
const os = require('os');
const path = require('path');
const { Recorder } = require('../..');
const { readWav } = require('../../lib/wav-file');
const { beep, onsetError } = require('../../test/js/helpers/sound');

const [runs = '10'] = process.argv.slice(2);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

/** Milliseconds from the moment tracks.json puts a file's beep onset to the beep's true moment (NaN: no beep or no truth). */
function beepError(projectDir, track, truth) {
  const { samples } = readWav(path.join(projectDir, track.file), { withSamples: true });
  return onsetError(track, samples, truth);
}

async function oneRun(recorder, micIndex) {
  const projectDir = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-alignment-'));
  recorder.start({ projectDir, micIndex, systemAudioIndex: 0 });
  await sleep(200);
  const beeps = await Promise.all([beep('micsrc', 1300), beep('speaker', 1300)]);
  const truths = beeps.map((b) => (b.spread > 5 ? NaN : b.moment)); // the tool was held up: no truth
  await sleep(300);
  recorder.end();
  const tracks = Object.fromEntries(JSON.parse(fs.readFileSync(path.join(projectDir, 'tracks.json'), 'utf8')).tracks
    .map((t) => [t.kind, t]));
  const result = { microphone: beepError(projectDir, tracks.microphone, truths[0]),
    systemAudio: beepError(projectDir, tracks.systemAudio, truths[1]) };
  fs.rmSync(projectDir, { recursive: true, force: true });
  return result;
}

function summary(values) {
  const missed = Number(runs) - values.length;
  if (values.length === 0) return 'no beep in any run';
  const sorted = [...values].sort((a, b) => a - b);
  const at = (q) => sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))];
  const mean = values.reduce((a, b) => a + b, 0) / values.length;
  return `min ${sorted[0].toFixed(1)}  median ${at(0.5).toFixed(1)}  max ${sorted[sorted.length - 1].toFixed(1)}  mean ${mean.toFixed(1)} ms` +
    (missed ? `  (${missed} runs without the beep or its moment)` : '');
}

(async () => {
  const recorder = new Recorder();
  const micIndex = recorder.getMics().findIndex((m) => m.name === 'VirtualMic');
  if (micIndex < 0) throw new Error('no "VirtualMic": start scripts/test-services.sh first');
  const errors = { microphone: [], systemAudio: [] };
  for (let i = 0; i < Number(runs); i++) {
    const run = await oneRun(recorder, micIndex);
    for (const kind of Object.keys(errors)) if (!Number.isNaN(run[kind])) errors[kind].push(run[kind]);
    console.log(`run ${i + 1}: mivox.wav ${run.microphone.toFixed(1)} ms, output.wav ${run.systemAudio.toFixed(1)} ms`);
  }
  console.log(`load average ${os.loadavg().map((l) => l.toFixed(2)).join(' ')}`);
  console.log(`mivox.wav:  ${summary(errors.microphone)}`);
  console.log(`output.wav: ${summary(errors.systemAudio)}`);
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
