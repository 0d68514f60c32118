'use strict';
// Microphones whose clocks run fast or slow: snd-aloop's loopback cards in the QEMU guest of
// scripts/test-webcam-guest.sh, their capture sides shifted by "PCM Rate Shift 100000" (+500, 0
// and -500 ppm, one card each, side by side). Beeps go into the playback side at known moments
// (the playback stream's trigger time plus their place in it); each recording is read back and
// every beep's place in mivox.wav is compared with its moment. No sound server: the recorder
// reaches the card through miniaudio's ALSA backend, as on a desktop without one.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawn, execFileSync } = require('child_process');
const { tempDir } = require('../js/helpers/project');

const cards = ['LoopA', 'LoopB', 'LoopC'];
if (!process.env.DESKTRACKS_GUEST || !fs.existsSync(`/proc/asound/${cards[0]}`)) {
  test('drifting microphones against snd-aloop', { skip: 'runs in the guest of scripts/test-webcam-guest.sh' }, () => {});
  return;
}
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const rate = 16000;
// A minute in the lane; bench/audio/drift_guest.sh runs it longer.
const seconds = Number(process.env.DRIFT_SECONDS || 60);
const beepEvery = 5;     // s
const beepLength = 0.1;  // s
const shifts = [500, 0, -500];  // ppm of the capture side's rate shift

// A WAV of silence with a beep of `hz` every `beepEvery` seconds, starting with a cosine so that
// its first sample is its onset.
function beepFile(file, total, hz) {
  const frames = Math.round(total * rate);
  const data = Buffer.alloc(44 + frames * 2);
  data.write('RIFF', 0, 'latin1');
  data.writeUInt32LE(36 + frames * 2, 4);
  data.write('WAVEfmt ', 8, 'latin1');
  data.writeUInt32LE(16, 16);
  data.writeUInt16LE(1, 20);
  data.writeUInt16LE(1, 22);
  data.writeUInt32LE(rate, 24);
  data.writeUInt32LE(rate * 2, 28);
  data.writeUInt16LE(2, 32);
  data.writeUInt16LE(16, 34);
  data.write('data', 36, 'latin1');
  data.writeUInt32LE(frames * 2, 40);
  const beeps = [];
  for (let at = 0.5; at + beepLength < total; at += beepEvery) {
    const first = Math.round(at * rate);
    beeps.push(first);
    for (let i = 0; i < beepLength * rate; i++) data.writeInt16LE(Math.round(16000 * Math.cos((2 * Math.PI * hz * i) / rate)), 44 + (first + i) * 2);
  }
  fs.writeFileSync(file, data);
  return beeps;
}

// The frequency of the beep starting at `at`, from its sign changes.
function beepHz(samples, at) {
  let changes = 0;
  for (let i = at + 1; i < at + beepLength * rate; i++) if ((samples[i] >= 0) !== (samples[i - 1] >= 0)) changes++;
  return changes / 2 / beepLength;
}

// Onsets of the beeps in a track: the first loud sample after at least half a second of quiet.
function onsets(samples) {
  const found = [];
  let quietSince = 0;
  for (let i = 0; i < samples.length; i++) {
    if (Math.abs(samples[i]) > 4000) {
      if (i - quietSince > rate / 2) found.push(i);
      quietSince = i;
    }
  }
  return found;
}

// The wall clock (ms) at which a playback stream was started, from the card's status; undefined
// until it runs. The status shows a trigger time of 0 while the stream is only prepared (aplay
// starts it when the whole file is in the buffer). ALSA stamps it on the monotonic clock (aplay's
// default), which node's hrtime reads too.
function triggerMillis(card, device) {
  const status = fs.readFileSync(`/proc/asound/${card}/pcm${device}p/sub0/status`, 'utf8');
  if (!/state: (RUNNING|DRAINING)/.test(status)) return undefined;
  const match = status.match(/trigger_time:\s*(\d+)\.(\d+)/);
  if (!match) throw new Error(status);
  const stamp = Number(match[1]) * 1000 + Number(match[2].padEnd(9, '0').slice(0, 9)) / 1e6;
  if (stamp === 0) return undefined;
  if (stamp > 1e12) return stamp; // already the wall clock
  return stamp + (performance.timeOrigin + performance.now() - Number(process.hrtime.bigint()) / 1e6);
}

// When a frame of a running playback stream enters the loopback (wall clock, ms), from the card's
// own position: the status brings the stream's position up to date, so the frame `frame` plays
// (frame - position) frames after the read. The card moves on its timer ticks, which the emulated
// guest delivers late by varying amounts, and a read can be held up: either only makes an estimate
// later, so the earliest of several reads is the moment (the recorder, reading its capture
// position the same way, keeps its earliest too). Undefined unless the stream runs and has yet to
// reach the frame.
function frameMoment(card, device, frame, rateOfCard) {
  const status = fs.readFileSync(`/proc/asound/${card}/pcm${device}p/sub0/status`, 'utf8');
  const read = performance.timeOrigin + performance.now();
  if (!/state: (RUNNING|DRAINING)/.test(status)) return undefined;
  const position = Number((status.match(/hw_ptr\s*:\s*(\d+)/) || [])[1]);
  if (!(position < frame)) return undefined;
  return read + ((frame - position) * 1000) / rateOfCard;
}

// Which loopback cards and devices a capture is running on (a recorder opened it).
function runningCaptures() {
  const running = [];
  for (const card of cards) {
    for (const device of [0, 1]) {
      const file = `/proc/asound/${card}/pcm${device}c/sub0/status`;
      if (fs.existsSync(file) && /state: RUNNING/.test(fs.readFileSync(file, 'utf8'))) running.push({ card, device });
    }
  }
  return running;
}

const amixer = (card, ...args) => execFileSync('amixer', ['-q', '-c', card, ...args], { encoding: 'utf8' });

test('a microphone whose clock runs fast or slow stays on the wall clock with nothing inserted or left out', async (t) => {
  const { Recorder } = require('../..');
  const mics = new Recorder().getMics();
  // Two entries per card (its devices 0 and 1, named alike), cards in order: every second one is
  // another card.
  const loopbacks = mics.filter((mic) => mic.name.startsWith('Loopback')).map((mic) => mic.index);
  assert.equal(loopbacks.length, 2 * cards.length, JSON.stringify(mics));

  // One recorder process per shift, ended when the beeps have been played. Each loads the add-on
  // and its libraries first and starts recording only when all have: three of them loading over the
  // guest's emulated file share stall it for seconds, longer than any capture buffer holds.
  const runs = shifts.map((_, k) => {
    const projectDir = tempDir();
    const child = spawn(process.execPath, ['-e', `
      const { Recorder } = require(${JSON.stringify(path.join(__dirname, '..', '..'))});
      const r = new Recorder();
      r.getMics();
      process.stdout.write('ready\\n');
      process.stdin.once('data', () => {
        r.start({ projectDir: ${JSON.stringify(projectDir)}, micIndex: ${loopbacks[2 * k]} });
        process.stdin.once('data', () => { r.end(); process.exit(0); });
      });`], { stdio: ['pipe', 'pipe', 'inherit'] });
    const ready = new Promise((resolve) => child.stdout.once('data', resolve));
    return { projectDir, child, ready, exited: new Promise((resolve) => child.on('exit', resolve)) };
  });
  // A recorder left running would keep the guest from powering off.
  t.after(() => runs.forEach((run) => run.child.kill('SIGKILL')));
  for (const run of runs) await run.ready;
  // The guest's own stalls, as a timer here sees them: the emulated machine on a loaded host
  // stops for longer than a capture buffer lasts now and then, and the frames the card could not
  // hold are really gone.
  const stalls = [];
  let tick = Date.now();
  const watchdog = setInterval(() => {
    const now = Date.now();
    if (now - tick > 250) stalls.push({ at: now, ms: now - tick });
    tick = now;
  }, 20);
  t.after(() => clearInterval(watchdog));
  for (const run of runs) run.child.stdin.write('start\n');
  let captures = [];
  for (let waited = 0; captures.length < shifts.length && waited < 240000; waited += 250) {
    await sleep(250);
    captures = runningCaptures();
  }
  assert.equal(captures.length, shifts.length, 'every recorder opened a loopback capture');

  // Capture k gets shift k and beeps of its own pitch, by which its recording is known.
  const pitches = [500, 1000, 2000];
  const file = (k) => path.join(tempDir(), `beeps-${k}.wav`);
  const streams = captures.map(({ card, device }, k) => {
    // A larger value makes the capture side deliver fewer frames per wall second: a slow clock.
    amixer(card, 'cset', `iface=PCM,name=PCM Rate Shift 100000,device=${device},subdevice=0`, String(100000 + shifts[k] / 10));
    const beepsFile = file(k);
    const [beepAt] = beepFile(beepsFile, 1, pitches[k]);
    return { shift: shifts[k], card, device, hz: pitches[k], beepsFile, beepAt };
  });
  // One beep at a time, each in a file that fits the playback buffer whole: the card plays it
  // from the buffer however slowly the emulated guest runs aplay (a stream fed in real time
  // under-ran by seconds here), and the stream's trigger time dates the beep. aplay goes through
  // ALSA's plug layer: the loopback makes the playback side take the capture side's format.
  const playBeeps = async (stream) => {
    stream.moments = [];
    stream.byTrigger = [];  // how much later the trigger time put each beep
    const began = Date.now();
    while (Date.now() - began < seconds * 1000) {
      const next = Date.now() + beepEvery * 1000;
      const player = spawn('aplay', ['-q', '-B', '2000000', '-D', `plughw:${stream.card},${1 - stream.device},0`, stream.beepsFile],
        { stdio: ['ignore', 'ignore', 'inherit'] });
      const exited = new Promise((resolve) => player.on('exit', resolve));
      let exitedYet = false;
      exited.then(() => { exitedYet = true; });
      // The trigger time dates the beep too, and is as late or later; then the card's position
      // while the beep waits in the buffer.
      let moment = Infinity;
      let triggered = Infinity;
      let frame;
      for (let waited = 0; !exitedYet && waited < 60000; waited += 10) {
        const playback = `/proc/asound/${stream.card}/pcm${1 - stream.device}p/sub0`;
        if (frame === undefined) {
          const trigger = triggerMillis(stream.card, 1 - stream.device);
          if (trigger !== undefined) {
            moment = trigger + (stream.beepAt * 1000) / rate;
            triggered = moment;
            const cardRate = Number(fs.readFileSync(`${playback}/hw_params`, 'utf8').match(/rate:\s*(\d+)/)[1]);
            frame = { at: Math.round((stream.beepAt * cardRate) / rate), cardRate };
          }
        } else {
          const atFrame = frameMoment(stream.card, 1 - stream.device, frame.at, frame.cardRate);
          if (atFrame === undefined) break;
          moment = Math.min(moment, atFrame);
        }
        await sleep(10);
      }
      assert.ok(Number.isFinite(moment), 'the beep is playing');
      stream.moments.push(moment);
      stream.byTrigger.push(triggered - moment);
      await exited;
      await sleep(Math.max(0, next - Date.now()));
    }
  };
  await Promise.all(streams.map(playBeeps));
  await sleep(1000);
  for (const run of runs) run.child.stdin.write('end\n');
  for (const run of runs) await run.exited;
  clearInterval(watchdog);

  const report = [];
  for (const { projectDir } of runs) {
    const b = fs.readFileSync(path.join(projectDir, 'mivox.wav'));
    const samples = new Int16Array(b.buffer.slice(b.byteOffset + 44, b.byteOffset + b.length));
    const track = JSON.parse(fs.readFileSync(path.join(projectDir, 'tracks.json'), 'utf8')).tracks.find((t) => t.kind === 'microphone');
    const found = onsets(samples);
    assert.ok(found.length > 0, `${projectDir}: no beep`);
    const hz = beepHz(samples, found[0]);
    const run = streams.reduce((best, s) => (Math.abs(s.hz - hz) < Math.abs(best.hz - hz) ? s : best));
    const { moments } = run;
    assert.equal(found.length, moments.length, `${run.shift} ppm: every beep is in the file once`);
    const errors = found.map((at, i) => track.start + (at * 1000) / rate - moments[i]);
    // A beep beside a stall of the guest is not held to the bound: the reads that date it come
    // late, and the recorder is still catching up with the frames the card lost.
    const besideStall = moments.map((moment) => stalls.some((stall) => stall.ms > 300 &&
      moment >= stall.at - stall.ms - 2000 && moment <= stall.at + 5000));
    const held = errors.filter((_, i) => !besideStall[i]);
    const firstMinute = errors.filter((_, i) => !besideStall[i] && moments[i] < moments[0] + 60000);
    const lastMinute = errors.filter((_, i) => !besideStall[i] && moments[i] >= moments[moments.length - 1] - 60000);
    const range = (list) => (list.length ? `${Math.min(...list).toFixed(1)} to ${Math.max(...list).toFixed(1)} ms` : 'none');
    report.push({ run, track, errors, held, firstMinute, lastMinute });
    console.log(`${run.shift > 0 ? '+' : ''}${run.shift} ppm: beeps ${range(firstMinute)} in the first minute, ` +
      `${range(lastMinute)} in the last; measured ${track.rateErrorPpm?.toFixed(1)} ppm, corrected ${track.correctionMs.toFixed(1)} ms, ` +
      `lost ${track.lost}, dropped ${track.droppedFrames}, file ${(samples.length / rate).toFixed(2)} s; trigger times later by ${range(run.byTrigger)}; every beep (ms): ` +
      errors.map((e, i) => `${e.toFixed(1)}${besideStall[i] ? '*' : ''}`).join(' ') + ' (*: beside a stall)');
    if (stalls.length && run === report[0].run) console.log(`the guest stalled ${stalls.length} times, longest ${Math.max(...stalls.map((x) => x.ms))} ms`);
    const lines = fs.readFileSync(path.join(projectDir, 'recorder.log'), 'utf8').split('\n').filter((l) => /mic: /.test(l));
    if (lines.length) console.log(lines.join('\n'));
  }
  for (const { run, track, errors, held } of report) {
    assert.equal(track.status, 'recorded', track.reason);
    // Silence only for frames that never came, and frames left out only as the track catches up
    // after them: the card holds a third of a second, so only while the guest itself stalled for
    // longer, and never more than it stalled.
    const stalled = stalls.filter((stall) => stall.ms > 300).reduce((sum, stall) => sum + stall.ms, 0);
    for (const [what, frames] of [['silence inserted', track.lost], ['frames left out', track.droppedFrames]]) {
      assert.ok(frames === 0 || (frames * 1000) / rate <= stalled,
        `${run.shift} ppm: ${frames} ${what}; the guest stalled ${JSON.stringify(stalls)}`);
    }
    assert.ok(held.length >= errors.length / 2, `${run.shift} ppm: only ${held.length} of ${errors.length} beeps away from the guest's stalls`);
    for (const error of held) assert.ok(Math.abs(error) <= 10, `${run.shift} ppm: beeps ${errors.map((e) => e.toFixed(1)).join(' ')}`);
    // The device runs `-shift` ppm against the wall clock (fewer frames for a positive shift).
    assert.ok(Math.abs(track.rateErrorPpm + run.shift) < 100, `${run.shift} ppm: measured ${track.rateErrorPpm}`);
  }
});
