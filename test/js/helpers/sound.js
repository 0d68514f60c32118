'use strict';
const { spawn } = require('child_process');

/** Plays a minute of a sine tone into a PulseAudio sink; returns the function that stops it. */
function playTone(sink, hz, rate, channels) {
  const pcm = Buffer.alloc(rate * 60 * channels * 2);
  for (let i = 0; i < rate * 60; i++) {
    const sample = Math.round(12000 * Math.sin((2 * Math.PI * hz * i) / rate));
    for (let c = 0; c < channels; c++) pcm.writeInt16LE(sample, (i * channels + c) * 2);
  }
  const args = ['-p', '-d', sink, `--rate=${rate}`, `--channels=${channels}`, '--format=s16le', '--latency-msec=20'];
  const player = spawn('pacat', args, { stdio: ['pipe', 'ignore', 'ignore'] });
  player.stdin.on('error', () => {});
  player.stdin.end(pcm);
  return () => player.kill();
}

module.exports = { playTone };
