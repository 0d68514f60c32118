'use strict';
// System audio follows the default output: the user picks another output in the middle of a
// recording (headphones plugged in) and output.wav goes on with what the new one plays.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { execFileSync, spawn } = require('child_process');
const { Recorder, getStatus } = require('../..');
const { readWav } = require('../../lib/wav-file');
const { tempDir, readLog } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');
const { tone, dominantFrequency } = require('./helpers/sound');

useTestServices({ fresh: true });

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const pactl = (...args) => execFileSync('pactl', args, { encoding: 'utf8' });

const readTrack = (file) => readWav(file, { withSamples: true }).samples;

/** A minute of a tone on `sink`; returns the player. */
function playOn(sink, hz) {
  const player = spawn('pacat', ['-p', '-d', sink, '--rate=48000', '--channels=2', '--format=s16le'], { stdio: ['pipe', 'ignore', 'ignore'] });
  player.stdin.on('error', () => {});
  player.stdin.end(tone(60000, { hz, rate: 48000, channels: 2 }));
  return { sink, player };
}

/**
 * Makes `sink` the default output. PulseAudio moves the players along with it; they are put back
 * at once, so that each output carries its own tone.
 */
function setDefaultSink(sink, players) {
  pactl('set-default-sink', sink);
  const inputs = pactl('list', 'sink-inputs').split(/^Sink Input #/m).slice(1);
  for (const { sink: home, player } of players) {
    const input = inputs.find((text) => text.includes(`application.process.id = "${player.pid}"`));
    if (input) pactl('move-sink-input', input.split('\n')[0].trim(), home);
  }
}

const logLines = (projectDir) =>
  [...readLog(projectDir).matchAll(/^\[[^\]]+\] \[basic_logger\] \[([a-z]+)\] (.*)$/gm)].map(([, level, message]) => ({ level, message }));

test('system audio moves with the default output', async (t) => {
  const module = pactl('load-module', 'module-null-sink', 'sink_name=headphones', 'sink_properties=device.description=Headphones').trim();
  const players = [playOn('speaker', 1000), playOn('headphones', 600)];
  t.after(() => {
    players.forEach(({ player }) => player.kill());
    pactl('set-default-sink', 'speaker');
    pactl('unload-module', module);
  });
  await sleep(300);

  for (const [from, to, hzBefore, hzAfter, device] of [['speaker', 'headphones', 1000, 600, 'Monitor of Headphones'],
    ['headphones', 'speaker', 600, 1000, 'Monitor of Speaker']]) {
    await t.test(`${from} to ${to}: the tone moves with it, no loss, one line naming the new output`, async (st) => {
      setDefaultSink(from, players);
      await sleep(200);
      const recorder = new Recorder();
      const projectDir = tempDir();
      const started = Date.now();
      recorder.start({ projectDir, systemAudioIndex: 0 });
      await sleep(2000);
      setDefaultSink(to, players);
      await sleep(300);
      const failures = getStatus().failures;
      await sleep(1700);
      const recordedMs = Date.now() - started;
      recorder.end();

      assert.deepEqual(failures, [], 'the live status shows no loss during the switch');
      const lines = logLines(projectDir).filter((l) => /^(playbackRecorder|silent): /.test(l.message));
      assert.deepEqual(lines.filter((l) => l.level === 'error'), []);
      const moved = lines.filter((l) => l.message.startsWith('playbackRecorder: the default output changed'));
      assert.equal(moved.length, 1, lines.map((l) => l.message).join('\n'));
      assert.equal(moved[0].level, 'warning');
      const pattern = new RegExp(`^playbackRecorder: the default output changed; recording "${device}" from ([\\d.]+) s of output\\.wav \\(([\\d.]+) s of silence for the switch\\)$`);
      const [, at, gap] = moved[0].message.match(pattern).map(Number);
      assert.ok(lines.some((l) => l.message === 'silent: the default output changed; playing silence on the new one'), 'the keep-alive moved too');
      st.diagnostic(`audio lost at the switch: ${(gap * 1000).toFixed(0)} ms`);
      // The switch costs the time to open a stream on the new output, not a reopening period.
      assert.ok(gap < 0.5, `${gap} s of silence`);

      const samples = readTrack(path.join(projectDir, 'output.wav'));
      // Known: a new monitor on an idle null sink may hand over what the sink rendered ahead at
      // once, so on a loaded machine the file has come out up to 0.7 s longer than the recording.
      st.diagnostic(`output.wav: ${samples.length / 16} ms for ${recordedMs} ms of recording`);
      assert.ok(samples.length / 16 >= recordedMs - 700 && samples.length / 16 <= recordedMs + 1000, `${samples.length / 16} ms of ${recordedMs} ms`);
      const switchAt = Math.round(at * 16000);
      assert.equal(dominantFrequency(samples.subarray(switchAt - 8000, switchAt - 800)), hzBefore, 'the old output before');
      const after = Math.round((at + gap) * 16000);
      assert.equal(dominantFrequency(samples.subarray(after + 1600, after + 9600)), hzAfter, 'the new output after');
      const tracks = JSON.parse(fs.readFileSync(path.join(projectDir, 'tracks.json'), 'utf8')).tracks;
      assert.equal(tracks.find((e) => e.kind === 'systemAudio').status, 'recorded');
    });
  }
});
