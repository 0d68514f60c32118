'use strict';
// Alignment after a pause: a beep into each audio track and a screen flash a moment after a 1 s
// pause, placed by tracks.json's start plus the pause it lists, against when they happened. Runs
// alternate with a peer that does not pause, so the pause's own share shows. Needs the test
// services (scripts/test-services.sh), xsetroot and a built add-on.
//
//   node bench/host/pause_alignment.js [runs=6]
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync, spawnSync } = require('child_process');
const { Recorder } = require('../..');
const { readWav } = require('../../lib/wav-file');
const { beep, onsetError } = require('../../test/js/helpers/sound');

const [runs = '6'] = process.argv.slice(2);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const wallNow = () => performance.timeOrigin + performance.now();

function firstBrightFrame(file) {
  const times = spawnSync('ffprobe', ['-v', 'error', '-select_streams', 'v', '-show_entries', 'frame=pts_time', '-of', 'csv=p=0', file],
    { encoding: 'utf8' }).stdout.split('\n').filter((l) => l.trim()).map((l) => parseFloat(l) * 1000);
  const grey = spawnSync('ffmpeg', ['-v', 'error', '-i', file, '-fps_mode', 'passthrough', '-vf', 'crop=2:2:100:100,format=gray',
    '-f', 'rawvideo', '-'], { maxBuffer: 1 << 26 }).stdout;
  const i = times.findIndex((t, n) => grey[n * 4] > 128);
  return i < 0 ? NaN : times[i];
}

async function oneRun(recorder, micIndex, pause) {
  execFileSync('xsetroot', ['-solid', 'black']);
  const projectDir = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-pause-'));
  recorder.start({ projectDir, micIndex, systemAudioIndex: 0 });
  await sleep(800);
  if (pause) {
    recorder.pause();
    await sleep(1000);
    recorder.resume();
  } else {
    await sleep(1000);
  }
  const beeps = Promise.all([beep('micsrc', 600), beep('speaker', 600)]);
  await sleep(300);
  const flashBefore = wallNow();
  execFileSync('xsetroot', ['-solid', 'white']);
  const flashAfter = wallNow();
  const heard = await beeps;
  if (process.env.DEBUG_BEEPS) console.log(JSON.stringify(heard));
  const truths = heard.map((b) => (b.spread > 5 ? NaN : b.moment));
  await sleep(500);
  await recorder.stop();
  const timeline = JSON.parse(fs.readFileSync(path.join(projectDir, 'tracks.json'), 'utf8'));
  const pausedMs = timeline.pauses.reduce((sum, p) => sum + (p.end - p.start), 0);
  const tracks = Object.fromEntries(timeline.tracks.map((t) => [t.kind, t]));
  const audio = (kind, truth) => {
    const { samples } = readWav(path.join(projectDir, tracks[kind].file), { withSamples: true });
    return onsetError({ start: tracks[kind].start + pausedMs }, samples, truth);
  };
  const seen = tracks.screen.start + pausedMs + firstBrightFrame(path.join(projectDir, 'output.mp4'));
  const result = { pausedMs, microphone: audio('microphone', truths[0]), systemAudio: audio('systemAudio', truths[1]),
    screenAfterStart: seen - flashBefore, screenAfterReturn: seen - flashAfter };
  fs.rmSync(projectDir, { recursive: true, force: true });
  execFileSync('xsetroot', ['-solid', 'black']);
  return result;
}

function summary(values) {
  const v = values.filter((x) => !Number.isNaN(x)).sort((a, b) => a - b);
  if (!v.length) return 'no measurement';
  return `min ${v[0].toFixed(1)}  median ${v[Math.floor(v.length / 2)].toFixed(1)}  max ${v[v.length - 1].toFixed(1)} ms (${v.length} runs)`;
}

(async () => {
  const recorder = new Recorder();
  const micIndex = recorder.getMics().findIndex((m) => m.name === 'VirtualMic');
  if (micIndex < 0) throw new Error('no "VirtualMic": start scripts/test-services.sh first');
  const all = { paused: [], peer: [] };
  for (let i = 0; i < Number(runs); i++) {
    for (const pause of i % 2 ? [false, true] : [true, false]) {
      const r = await oneRun(recorder, micIndex, pause);
      all[pause ? 'paused' : 'peer'].push(r);
      console.log(`${pause ? 'paused' : 'peer  '}: pause ${r.pausedMs.toFixed(1)} ms; mivox.wav ${r.microphone.toFixed(1)} ms, ` +
        `output.wav ${r.systemAudio.toFixed(1)} ms, flash seen ${r.screenAfterStart.toFixed(1)} ms after xsetroot started ` +
        `(${r.screenAfterReturn.toFixed(1)} ms after it returned)`);
    }
  }
  for (const [name, list] of Object.entries(all)) {
    console.log(`${name}: mivox.wav ${summary(list.map((r) => r.microphone))}`);
    console.log(`${name}: output.wav ${summary(list.map((r) => r.systemAudio))}`);
    console.log(`${name}: screen after xsetroot returned ${summary(list.map((r) => r.screenAfterReturn))}`);
  }
  console.log(`load average ${fs.readFileSync('/proc/loadavg', 'utf8').trim()}`);
})();
