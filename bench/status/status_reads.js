'use strict';
// One process, one recording at a time: "quiet" records with no reader, "reading" calls
// getStatus() every 10 ms on the main thread while recording. Pairs alternate to spread drift.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { Recorder, getStatus } = require('../..');

const seconds = Number(process.argv[2] || 5);
const pairs = Number(process.argv[3] || 3);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function recordOnce(reading) {
  const projectDir = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-status-bench-'));
  const recorder = new Recorder();
  recorder.start({ projectDir, micIndex: -1, systemAudioIndex: -1 });
  let reads = 0;
  const cpuBefore = process.cpuUsage();
  const reader = reading ? setInterval(() => { getStatus(); reads += 1; }, 10) : null;
  await sleep(seconds * 1000);
  clearInterval(reader);
  recorder.end();
  const cpu = process.cpuUsage(cpuBefore);
  const { screen, elapsedMs } = getStatus();
  fs.rmSync(projectDir, { recursive: true, force: true });
  return {
    rate: screen.samples / (elapsedMs / 1000),
    perCpu: screen.samples / ((cpu.user + cpu.system) / 1e6),
    reads: reads / (elapsedMs / 1000),
  };
}

(async () => {
  const quiet = [];
  const reading = [];
  for (let i = 0; i < pairs; i++) {
    const order = i % 2 === 0 ? [false, true] : [true, false];
    for (const withReads of order) {
      const r = await recordOnce(withReads);
      (withReads ? reading : quiet).push(r);
      console.log(`${withReads ? 'reading' : 'quiet  '}: ${r.rate.toFixed(1)} samples/s, ${r.perCpu.toFixed(1)} samples/cpu-s` +
        (withReads ? ` (${r.reads.toFixed(0)} reads/s)` : ''));
    }
  }
  const median = (list, key) => {
    const sorted = list.map((r) => r[key]).sort((a, b) => a - b);
    return sorted[Math.floor(sorted.length / 2)];
  };
  for (const [key, unit] of [['rate', 'samples/s'], ['perCpu', 'samples/cpu-s']]) {
    const change = (median(reading, key) / median(quiet, key) - 1) * 100;
    console.log(`median : quiet ${median(quiet, key).toFixed(1)}, reading ${median(reading, key).toFixed(1)} ${unit}; ` +
      `change ${change >= 0 ? '+' : ''}${change.toFixed(1)} %`);
  }
})();
