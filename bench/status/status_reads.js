'use strict';
// One process, one recording at a time, three ways: "quiet" with nothing else running, "ticking"
// with a 100 Hz timer on the main thread that does nothing, "reading" with the same timer calling
// getStatus(). Each round runs all three back to back (the order rotating) and the ratios within a
// round are what count: on a shared machine the unpaced loop follows the load, which drifts less
// within a round than across the run. reading against ticking is the cost of the read itself;
// ticking against quiet is what any 100 Hz timer of the host costs.
// Then the bound that needs no quiet machine: the CPU a read takes, measured during a recording,
// as a share of the CPU the recording itself uses.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { Recorder, getStatus } = require('../..');

const seconds = Number(process.argv[2] || 4);
const rounds = Number(process.argv[3] || 6);
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

async function recordOnce(mode) {
  return record(async () => {
    // A timer late under load catches up, so that the ticks stay at 100 a second.
    let ticks = 0;
    const since = performance.now();
    const timer = mode === 'quiet' ? null : setInterval(() => {
      for (const due = Math.floor((performance.now() - since) / 10); ticks < due; ticks += 1) {
        if (mode === 'reading') getStatus();
      }
    }, 10);
    await sleep(seconds * 1000);
    clearInterval(timer);
    return { ticks: ticks / seconds };
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
  const modes = ['quiet', 'ticking', 'reading'];
  const comparisons = [['reading', 'ticking'], ['ticking', 'quiet'], ['reading', 'quiet']];
  const ratios = Object.fromEntries(comparisons.map(([a, b]) => [`${a}/${b}`, { rate: [], perCpu: [] }]));
  const quietCpu = [];
  for (let i = 0; i < rounds; i++) {
    const result = {};
    for (let k = 0; k < modes.length; k++) {
      const mode = modes[(i + k) % modes.length];
      const r = await recordOnce(mode);
      result[mode] = r;
      console.log(`${mode.padEnd(7)}: ${r.rate.toFixed(1)} samples/s, ${r.perCpu.toFixed(1)} samples/cpu-s` +
        (mode === 'quiet' ? '' : ` (${r.ticks.toFixed(0)} ticks/s)`) + `; load ${os.loadavg()[0].toFixed(1)}`);
    }
    for (const [a, b] of comparisons) {
      for (const key of ['rate', 'perCpu']) ratios[`${a}/${b}`][key].push(result[a][key] / result[b][key] - 1);
    }
    quietCpu.push(result.quiet.cpu / (result.quiet.elapsedMs / 1000));
  }
  for (const [name, byKey] of Object.entries(ratios)) {
    for (const [key, unit] of [['rate', 'samples/s'], ['perCpu', 'samples/cpu-s']]) {
      const s = sorted(byKey[key]);
      console.log(`${name}, ${unit}: median ${percent(median(s))} over ${s.length} rounds ` +
        `(middle half ${percent(s[Math.floor(s.length / 4)])} to ${percent(s[Math.ceil(3 * s.length / 4) - 1])}, ` +
        `all ${percent(s[0])} to ${percent(s[s.length - 1])})`);
    }
  }
  const { perRead } = await readCost();
  const share = (perRead * 100) / median(quietCpu);
  console.log(`a read: ${(perRead * 1e6).toFixed(1)} µs of CPU; 100 reads a second take ${percent(share).slice(1)} ` +
    `of the CPU the recording uses (${median(quietCpu).toFixed(2)} CPU-s/s), the most they could take from its samples`);
})();
