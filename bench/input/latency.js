'use strict';
// Event latency from injection (XTest) to record under a burst of moves: every move lands on
// its own pixel, so each record is matched to the move that made it.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const { Recorder } = require('../..');

const [injector, count = '2000', intervalUs = '500'] = process.argv.slice(2);
const projectDir = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-input-bench-'));
const recorder = new Recorder();
recorder.start({ projectDir });
Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 800);
const injected = new Map();
for (const line of execFileSync(injector, [count, intervalUs], { encoding: 'utf8' }).trim().split('\n')) {
  const [x, y, us] = line.split(' ').map(Number);
  injected.set(`${x},${y}`, us);
}
Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 200);
recorder.end();

const positions = JSON.parse(fs.readFileSync(path.join(projectDir, 'positions.json'), 'utf8'));
const latencies = positions
  .filter((r) => injected.has(`${r.x},${r.y}`))
  // A record's time is the whole millisecond it was handled in: take the middle of it.
  .map((r) => r.time + 0.5 - injected.get(`${r.x},${r.y}`) / 1000)
  .sort((a, b) => a - b);
const pick = (q) => latencies[Math.min(latencies.length - 1, Math.floor(latencies.length * q))];
const spanMs = (Math.max(...injected.values()) - Math.min(...injected.values())) / 1000;
console.log(`moves injected: ${injected.size} over ${spanMs.toFixed(0)} ms; records: ${positions.length} (gate: at most one per 10 ms)`);
console.log(`injection -> record latency (+-0.5 ms: records carry whole ms): p50 ${pick(0.5).toFixed(2)} ms, p99 ${pick(0.99).toFixed(2)} ms, max ${latencies[latencies.length - 1].toFixed(2)} ms`);
fs.rmSync(projectDir, { recursive: true, force: true });
