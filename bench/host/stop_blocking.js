'use strict';
// The longest block of the JavaScript event loop while a recording is stopped: end() against
// stop(), side by side (A/B alternating). Every track the machine has (screen at the display's
// size, microphone, system audio, input; the webcam when a camera is there) records `seconds`
// before the stop. Needs the test services (scripts/test-services.sh) and a built add-on.
//
//   node bench/host/stop_blocking.js [runs=2] [seconds=60]
const fs = require('fs');
const os = require('os');
const path = require('path');
const { monitorEventLoopDelay } = require('perf_hooks');
const { Recorder, listCameras } = require('../..');

const [runs = '2', seconds = '60'] = process.argv.slice(2);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function oneRun(how) {
  const recorder = new Recorder();
  const projectDir = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-stop-'));
  const micIndex = recorder.getMics().findIndex((m) => m.name === 'VirtualMic');
  let webcamIndex = -1;
  try {
    webcamIndex = listCameras().length ? 0 : -1;
  } catch {}
  recorder.start({ projectDir, micIndex, systemAudioIndex: 0, webcamIndex });
  await sleep(Number(seconds) * 1000);
  const delay = monitorEventLoopDelay({ resolution: 1 });
  // A 1 ms timer beside it: the longest gap between its ticks is the longest block.
  let last = performance.now();
  let longest = 0;
  const ticker = setInterval(() => {
    const now = performance.now();
    longest = Math.max(longest, now - last);
    last = now;
  }, 1);
  // The same watch over a second of recording before the stop: what the machine's load alone
  // costs the thread (a loaded machine leaves it waiting for a core), the peer of the stop's figure.
  await sleep(50);
  longest = 0;
  await sleep(1000);
  const baselineGapMs = longest;
  delay.enable();
  longest = 0;
  const began = performance.now();
  let callMs;
  if (how === 'end') {
    recorder.end();
    callMs = performance.now() - began;
  } else {
    const promise = recorder.stop();
    callMs = performance.now() - began;
    await promise;
  }
  const doneMs = performance.now() - began;
  await sleep(50);
  delay.disable();
  clearInterval(ticker);
  const tracks = JSON.parse(fs.readFileSync(path.join(projectDir, 'tracks.json'), 'utf8')).tracks;
  fs.rmSync(projectDir, { recursive: true, force: true });
  return { how, callMs, doneMs, maxDelayMs: delay.max / 1e6, longestGapMs: longest, baselineGapMs, tracks: tracks.map((t) => `${t.kind}:${t.status}`).join(' ') };
}

(async () => {
  const results = { end: [], stop: [] };
  for (let i = 0; i < Number(runs); i++) {
    for (const how of i % 2 ? ['stop', 'end'] : ['end', 'stop']) {
      const r = await oneRun(how);
      results[how].push(r);
      console.log(`${how.padEnd(4)}: call ${r.callMs.toFixed(1)} ms, files complete after ${r.doneMs.toFixed(1)} ms, ` +
        `event loop: longest delay ${r.maxDelayMs.toFixed(1)} ms, longest gap of a 1 ms timer ${r.longestGapMs.toFixed(1)} ms ` +
        `(${r.baselineGapMs.toFixed(1)} ms in a second of recording before)  [${r.tracks}]  ` +
        `load ${os.loadavg().map((l) => l.toFixed(2)).join(' ')}`);
    }
  }
  for (const how of ['end', 'stop']) {
    const worst = Math.max(...results[how].map((r) => r.longestGapMs));
    const calls = Math.max(...results[how].map((r) => r.callMs));
    const baseline = Math.max(...results[how].map((r) => r.baselineGapMs));
    console.log(`${how}: worst block ${worst.toFixed(1)} ms, longest call ${calls.toFixed(1)} ms, ` +
      `worst gap while only recording ${baseline.toFixed(1)} ms, over ${results[how].length} runs`);
  }
  console.log(`load average ${fs.readFileSync('/proc/loadavg', 'utf8').trim()}`);
})();
