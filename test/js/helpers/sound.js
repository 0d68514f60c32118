'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn, execFileSync } = require('child_process');
const { repoRoot } = require('./project');

/** `ms` of a sine tone as 16-bit PCM. */
function tone(ms, { hz = 440, rate = 16000, channels = 1 } = {}) {
  const frames = Math.round((rate * ms) / 1000);
  const pcm = Buffer.alloc(frames * channels * 2);
  for (let i = 0; i < frames; i++) {
    const sample = Math.round(12000 * Math.sin((2 * Math.PI * hz * i) / rate));
    for (let c = 0; c < channels; c++) pcm.writeInt16LE(sample, (i * channels + c) * 2);
  }
  return pcm;
}

/**
 * Plays a minute of a sine tone into a PulseAudio sink at the server's default latency, as a media
 * player does (a low-latency player would keep the sink in short blocks); returns the function
 * that stops it.
 */
function playTone(sink, hz, rate, channels) {
  const args = ['-p', '-d', sink, `--rate=${rate}`, `--channels=${channels}`, '--format=s16le'];
  const player = spawn('pacat', args, { stdio: ['pipe', 'ignore', 'ignore'] });
  player.stdin.on('error', () => {});
  player.stdin.end(tone(60000, { hz, rate, channels }));
  return () => player.kill();
}

let beepBinary;
/** bench/audio/beep.c, built once per process. */
function beepTool() {
  if (!beepBinary) {
    beepBinary = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-beep-')), 'beep');
    execFileSync('cc', ['-O2', '-o', beepBinary, path.join(repoRoot, 'bench', 'audio', 'beep.c'), '-lpulse-simple', '-lpulse', '-lm']);
  }
  return beepBinary;
}

/**
 * Plays a 300 ms 440 Hz beep into `sink` after `beforeMs` of silence on a low-latency stream;
 * resolves with the wall-clock moment (ms) the sound server played its first sample, and how far
 * a second estimate of it (from after the write) lies from it: more than a few ms means the tool
 * was held up and the moment is uncertain.
 */
function beep(sink, beforeMs) {
  return new Promise((resolve, reject) => {
    const child = spawn(beepTool(), [sink, String(beforeMs)], { stdio: ['ignore', 'pipe', 'pipe'] });
    let [out, err] = ['', ''];
    child.stdout.on('data', (data) => (out += data));
    child.stderr.on('data', (data) => (err += data));
    // 'close', not 'exit': only then has all of its output been read.
    child.on('close', (code) => {
      const [moment, , again] = out.trim().split(' ').map(Number);
      if (code === 0 && Number.isFinite(moment)) resolve({ moment, spread: Math.abs(again - moment) });
      else reject(new Error(`beep ${sink}: ${code} ${err}`));
    });
  });
}

/** Milliseconds from where tracks.json's `start` puts the first loud sample of `samples` to `moment`. */
function onsetError(track, samples, moment) {
  const onset = samples.findIndex((s) => Math.abs(s) > 3000);
  return onset < 0 ? NaN : track.start + onset / 16 - moment;
}

/** The strongest frequency (10 Hz steps, 100-4000 Hz) of 16 kHz `samples`, by Goertzel. */
function dominantFrequency(samples) {
  let best = { hz: 0, power: -1 };
  for (let hz = 100; hz <= 4000; hz += 10) {
    const k = 2 * Math.cos((2 * Math.PI * hz) / 16000);
    let [s1, s2] = [0, 0];
    for (const x of samples) [s1, s2] = [x + k * s1 - s2, s1];
    const power = s1 * s1 + s2 * s2 - k * s1 * s2;
    if (power > best.power) best = { hz, power };
  }
  return best.hz;
}

module.exports = { tone, playTone, beep, beepTool, onsetError, dominantFrequency };
