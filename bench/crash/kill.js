'use strict';
// Kill measurement: recordings with every track, each SIGKILLed at a random moment of its
// `seconds`, then recovered. Prints per track how much of the recording before the kill each file
// holds without and with recover (seconds lost), and any file that does not read.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn, execFileSync } = require('child_process');

const root = path.join(__dirname, '..', '..');
const { recover } = require(root);
const { readWav } = require(path.join(root, 'lib', 'wav-file'));

const runs = Number(process.argv[2] || 20);
const seconds = Number(process.argv[3] || 10);

function videoSeconds(file) {
  const out = execFileSync('ffprobe', ['-v', 'error', '-select_streams', 'v', '-show_entries', 'packet=pts,duration', '-of', 'csv=p=0', file],
    { encoding: 'utf8', maxBuffer: 1 << 28 }).trim().split('\n').filter(Boolean);
  if (!out.length) return 0;
  const [pts, duration] = out[out.length - 1].split(',').map(Number);
  return (pts + duration) / 1e7;
}

function recordAndKill(projectDir, afterMs) {
  const script = `const { Recorder } = require(${JSON.stringify(root)});
    globalThis.recorder = new Recorder(); recorder.start(${JSON.stringify({ projectDir, micIndex: 0, systemAudioIndex: 0 })});
    process.stdout.write('started\\n'); setInterval(() => {}, 1000);`;
  const child = spawn(process.execPath, ['-e', script], { stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve) => child.stdout.once('data', () => setTimeout(() => {
    const killedAt = Date.now();
    child.kill('SIGKILL');
    child.once('exit', () => resolve(killedAt));
  }, afterMs)));
}

function measure(dir, firstFrame, killedAt) {
  const recorded = (killedAt - firstFrame) / 1000;
  const held = {};
  const read = (name, fn) => { try { held[name] = recorded - fn(path.join(dir, name)); } catch (err) { held[name] = `corrupt: ${err.message}`; } };
  read('output.mp4', videoSeconds);
  read('mivox.wav', (f) => readWav(f).durationMs / 1000);
  read('output.wav', (f) => readWav(f).durationMs / 1000);
  return held;
}

(async () => {
  const lost = { before: {}, after: {} };
  let corrupt = 0;
  for (let i = 0; i < runs; i += 1) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-kill-'));
    const afterMs = 1000 + Math.random() * (seconds - 1) * 1000;
    const killedAt = await recordAndKill(dir, afterMs);
    const journal = fs.readFileSync(path.join(dir, 'journal.jsonl'), 'utf8').split('\n');
    const meta = journal.map((l) => { try { return JSON.parse(l); } catch { return {}; } }).find((e) => e.kind === 'meta' && e.time > 0);
    const before = measure(dir, meta.time, killedAt);
    const report = recover(dir);
    const after = measure(dir, meta.time, killedAt);
    for (const name of ['positions.json', 'clicks.json', 'cursor_info.json', 'meta.json']) {
      try { JSON.parse(fs.readFileSync(path.join(dir, name), 'utf8')); } catch (err) { after[name] = `corrupt: ${err.message}`; }
    }
    const failures = report.filter((e) => e.status === 'failed');
    for (const [when, values] of [['before', before], ['after', after]]) {
      for (const [name, value] of Object.entries(values)) {
        if (typeof value === 'string') corrupt += 1;
        else (lost[when][name] ||= []).push(value);
      }
    }
    console.log(`run ${i + 1}: killed at ${(afterMs / 1000).toFixed(2)} s; lost after recover: ` +
      Object.entries(after).map(([n, v]) => `${n} ${typeof v === 'number' ? v.toFixed(2) : v}`).join(', ') +
      (failures.length ? `; recover failed: ${JSON.stringify(failures)}` : ''));
    fs.rmSync(dir, { recursive: true, force: true });
  }
  for (const when of ['before', 'after']) {
    console.log(`seconds lost ${when} recover (mean / max over ${runs} runs):`);
    for (const [name, values] of Object.entries(lost[when])) {
      const mean = values.reduce((a, b) => a + b, 0) / values.length;
      console.log(`  ${name.padEnd(11)} ${mean.toFixed(2)} / ${Math.max(...values).toFixed(2)}`);
    }
  }
  console.log(`unreadable files: ${corrupt}`);
})();
