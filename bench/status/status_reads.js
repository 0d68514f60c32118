'use strict';
// One process, one recording at a time: "quiet" records with no reader, "reading" calls
// getStatus() every 10 ms on the main thread while recording. Each pair runs both back to back
// (the order alternating), and the pair's ratio is what counts: on a shared machine the unpaced
// loop follows the load, which drifts less within a pair than across the run.
// Then the bound that needs no quiet machine: the CPU a read takes, measured during a recording,
// as a share of the CPU the recording itself uses.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { Recorder, getStatus } = require('../..');

const seconds = Number(process.argv[2] || 4);
const pairs = Number(process.argv[3] || 8);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const cpuSeconds = (usage) => (usage.user + usage.system) / 1e6;

async function record(during) {
  const projectDir = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-status-bench-'));
  const recorder = new Recorder();
  recorder.start({ projectDir, micIndex: -1, systemAudioIndex: -1 });
  const cpuBefore = process.cpuUsage();
  const extra = await during();
  recorder.end();
  const cpu = cpuSeconds(process.cpuUsage(cpuBefore));
  const { screen, elapsedMs } = getStatus();
  fs.rmSync(projectDir, { recursive: true, force: true });
  return { rate: screen.samples / (elapsedMs / 1000), perCpu: screen.samples / cpu, cpu, elapsedMs, ...extra };
}

async function recordOnce(reading) {
  return record(async () => {
    let reads = 0;
    const reader = reading ? setInterval(() => { getStatus(); reads += 1; }, 10) : null;
    await sleep(seconds * 1000);
    clearInterval(reader);
    return { reads: reads / seconds };
  });
}

// Reads flat out for a while in the middle of a recording: CPU per read on the calling thread.
async function readCost() {
  return record(async () => {
    await sleep(1000);
    const count = 20000;
    const before = process.cpuUsage();
    for (let i = 0; i < count; i++) getStatus();
    const perRead = cpuSeconds(process.cpuUsage(before)) / count;
    await sleep(1000);
    return { perRead };
  });
}

const sorted = (values) => [...values].sort((a, b) => a - b);
const median = (values) => {
  const s = sorted(values);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const percent = (x) => `${x >= 0 ? '+' : ''}${(x * 100).toFixed(1)} %`;

(async () => {
  const ratios = { rate: [], perCpu: [] };
  const quietCpu = [];
  for (let i = 0; i < pairs; i++) {
    const order = i % 2 === 0 ? [false, true] : [true, false];
    const result = {};
    for (const withReads of order) {
      const r = await recordOnce(withReads);
      result[withReads] = r;
      console.log(`${withReads ? 'reading' : 'quiet  '}: ${r.rate.toFixed(1)} samples/s, ${r.perCpu.toFixed(1)} samples/cpu-s` +
        (withReads ? ` (${r.reads.toFixed(0)} reads/s)` : '') + `; load ${os.loadavg()[0].toFixed(1)}`);
    }
    for (const key of ['rate', 'perCpu']) ratios[key].push(result[true][key] / result[false][key] - 1);
    quietCpu.push(result[false].cpu / (result[false].elapsedMs / 1000));
  }
  for (const [key, unit] of [['rate', 'samples/s'], ['perCpu', 'samples/cpu-s']]) {
    const s = sorted(ratios[key]);
    console.log(`reading against quiet, ${unit}: median ${percent(median(s))} over ${s.length} pairs ` +
      `(middle half ${percent(s[Math.floor(s.length / 4)])} to ${percent(s[Math.ceil(3 * s.length / 4) - 1])}, ` +
      `all ${percent(s[0])} to ${percent(s[s.length - 1])})`);
  }
  const { perRead } = await readCost();
  const share = (perRead * 100) / median(quietCpu);
  console.log(`a read: ${(perRead * 1e6).toFixed(1)} µs of CPU; 100 reads a second take ${percent(share).slice(1)} ` +
    `of the CPU the recording uses (${median(quietCpu).toFixed(2)} CPU-s/s), the most they could take from its samples`);
})();
