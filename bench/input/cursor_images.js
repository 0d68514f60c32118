'use strict';
// One recording under a burst of injected moves across windows whose cursors differ, with cursor
// images on or off: prints the cursor changes kept, the CPU the cursor image thread spent, and
// the latency from each injected move to its record.
//   node cursor_images.js <inject_moves> on|off [count] [interval_us]
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const { Recorder } = require('../..');

const [injector, mode, count = '2000', intervalUs = '1000'] = process.argv.slice(2);
const sleep = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);
const ticksPerSecond = 100; // USER_HZ of /proc/<pid>/task/<tid>/stat

// utime + stime of our thread named "cursor images", in seconds; null when it is not running.
function cursorThreadSeconds() {
  const tasks = `/proc/${process.pid}/task`;
  for (const tid of fs.readdirSync(tasks)) {
    try {
      if (fs.readFileSync(`${tasks}/${tid}/comm`, 'utf8').trim() !== 'cursor images') continue;
      const fields = fs.readFileSync(`${tasks}/${tid}/stat`, 'utf8').split(') ')[1].split(' ');
      return (Number(fields[11]) + Number(fields[12])) / ticksPerSecond;
    } catch { /* the thread ended meanwhile */ }
  }
  return null;
}

const projectDir = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-cursor-bench-'));
const recorder = new Recorder();
recorder.start({ projectDir, cursorImages: mode === 'on' });
sleep(800);
const injected = new Map();
for (const line of execFileSync(injector, [count, intervalUs], { encoding: 'utf8' }).trim().split('\n')) {
  const [x, y, us] = line.split(' ').map(Number);
  injected.set(`${x},${y}`, us);
}
sleep(200);
const cpu = cursorThreadSeconds();
recorder.end();

const positions = JSON.parse(fs.readFileSync(path.join(projectDir, 'positions.json'), 'utf8'));
const latencies = positions
  .filter((r) => injected.has(`${r.x},${r.y}`))
  .map((r) => r.time + 0.5 - injected.get(`${r.x},${r.y}`) / 1000)
  .sort((a, b) => a - b);
const pick = (q) => latencies[Math.min(latencies.length - 1, Math.floor(latencies.length * q))];
const timeline = path.join(projectDir, 'cursors', 'timeline.json');
const changes = fs.existsSync(timeline) ? JSON.parse(fs.readFileSync(timeline, 'utf8')).length : 0;
const images = fs.existsSync(timeline) ? fs.readdirSync(path.dirname(timeline)).filter((f) => f.endsWith('.png')).length : 0;
console.log(JSON.stringify({
  mode, records: latencies.length, changes, images,
  cursorThreadMs: cpu === null ? null : Math.round(cpu * 1000),
  msPerChange: cpu === null || !changes ? null : Number(((cpu * 1000) / changes).toFixed(3)),
  latencyMs: { p50: Number(pick(0.5).toFixed(2)), p99: Number(pick(0.99).toFixed(2)), max: Number(latencies[latencies.length - 1].toFixed(2)) },
}));
fs.rmSync(projectDir, { recursive: true, force: true });
