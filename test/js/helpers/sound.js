'use strict';
const { spawn } = require('child_process');

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

module.exports = { tone, playTone };
