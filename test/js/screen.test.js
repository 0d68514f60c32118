'use strict';
// The screen track end to end on a real display: output.mp4 as ffprobe sees it, the figures in
// meta.json and the screen recorder's log lines.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const { execFileSync } = require('child_process');
const { tempDir, readMeta, logMessages, runNode } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');

useTestServices();

// Records in a child process, so that no X connection of the add-on outlives the recording.
function recordScreen(options) {
  const projectDir = tempDir('desktracks-screen-');
  const settings = { projectDir, micIndex: -1, systemAudioIndex: -1, webcamIndex: -1, ...options };
  const child = runNode(`
    const recorder = new Recorder();
    const startedAt = Date.now();
    recorder.start(${JSON.stringify(settings)});
    setTimeout(() => {
      recorder.end();
      console.log(JSON.stringify({ startedAt, endedAt: Date.now() }));
    }, 1500);`);
  assert.equal(child.status, 0, `child ended with ${child.status ?? child.signal}: ${child.stderr}`);
  return { projectDir, ...JSON.parse(child.stdout.trim().split('\n').at(-1)) };
}

// ffprobe's view of output.mp4: one h264 stream at the nominal rate, first pts 0, durations the
// intervals between samples.
function checkVideo(projectDir, { width, height, fps = 30 }) {
  const file = path.join(projectDir, 'output.mp4');
  const args = ['-v', 'error', '-show_streams', '-show_entries', 'packet=pts,duration', '-of', 'json', file];
  // A still screen makes many samples a second: allow a large listing.
  const { streams, packets: listed } = JSON.parse(execFileSync('ffprobe', args, { encoding: 'utf8', maxBuffer: 1 << 30 }));
  const packets = listed.map((p) => ({ pts: Number(p.pts), duration: Number(p.duration) }));
  assert.equal(streams.length, 1, 'one stream, no audio');
  const [video] = streams;
  // Tools see the nominal rate.
  assert.deepEqual([video.codec_name, video.width, video.height, video.time_base, video.r_frame_rate],
    ['h264', width, height, '1/10000000', `${fps}/1`]);
  assert.ok(packets.length >= 5, `a sample on every pass (${packets.length})`);
  assert.equal(Number(video.nb_frames), packets.length);
  assert.equal(packets[0].pts, 0, 'the first sample is at 0');
  for (let i = 1; i < packets.length; i++) {
    assert.ok(packets[i].pts > packets[i - 1].pts, 'times grow');
    assert.equal(packets[i - 1].duration, packets[i].pts - packets[i - 1].pts, 'durations are the measured intervals');
  }
  return packets;
}

test('whole output, with unusable rates falling back to the defaults', () => {
  const size = { width: 1920, height: 1080 }; // the test services' display
  const { projectDir, startedAt, endedAt } = recordScreen({ fps: -5, bitrate: 0 });
  const packets = checkVideo(projectDir, size);

  const meta = readMeta(projectDir);
  assert.deepEqual([meta.width, meta.height, meta.fps], [size.width, size.height, 30]);
  assert.ok(meta.time >= startedAt && meta.time <= endedAt, 'time is the first sample wall-clock time');
  assert.ok(packets.at(-1).pts / 10000 <= endedAt - meta.time, 'the video spans no more than the recording');

  const lines = logMessages(projectDir);
  const order = [
    'screenRecorder: fps -5 is not usable, using 30',
    'screenRecorder: bitrate 0 is not usable, using 18000000',
    'screenRecorder: VIDEO_FPS: 30',
    'screenRecorder: VIDEO_BIT_RATE: 18000000',
    'screenRecorder:Adapter 0: ',
    'screenRecorder:  Dedicated Video Memory: 0 MB',
    'screenRecorder:  Output 0: ',
    `screenRecorder:    Desktop Coordinates: (0, 0) - (${size.width}, ${size.height})`,
    'screenRecorder:    Attached to desktop: Yes',
    'Selected Adapter: ',
    'D3D11 device created successfully. Feature Level: 0x',
    'screenRecorder: InitializeSinkWriter success',
    'screenRecorder: Finalize success',
    'screenRecorder: All resources have been released safely.',
    'end',
  ];
  let at = -1;
  for (const expected of order) {
    const found = lines.findIndex((line, i) => i > at && line.startsWith(expected));
    assert.ok(found > at, `"${expected}" after line ${at} in:\n${lines.join('\n')}`);
    at = found;
  }
  assert.equal(lines.filter((l) => /failed|ACCESS_LOST/.test(l)).length, 0);
});

test('an odd-sized area is encoded one column and row smaller, meta.json keeps its size and the rates', () => {
  const { projectDir } = recordScreen({ area: [101, 51, 742, 532], fps: 24, bitrate: 4000000 });
  const packets = checkVideo(projectDir, { width: 640, height: 480, fps: 24 });
  // A converter given no options makes a video at the nominal rate of about the same duration;
  // with 10,000,000 frames a second it never finished. (ffmpeg's constant-rate conversion of
  // thousands of samples a second, as a still screen gives, ends up to a few frames long.)
  const converted = path.join(projectDir, 'converted.mp4');
  execFileSync('ffmpeg', ['-v', 'error', '-i', path.join(projectDir, 'output.mp4'), converted], { timeout: 60000 });
  const probe = (file) => JSON.parse(execFileSync('ffprobe', ['-v', 'error', '-show_streams', '-of', 'json', file])).streams[0];
  const [original, copy] = [probe(path.join(projectDir, 'output.mp4')), probe(converted)];
  assert.ok(Math.abs(copy.duration - original.duration) <= 5 / 24, `${copy.duration} s of ${original.duration} s`);
  assert.ok(Number(copy.nb_frames) <= Math.ceil(original.duration * 24) + 5, `${copy.nb_frames} frames`);
  assert.equal(packets.at(-1).duration > 0, true, 'the last sample has its duration');
  const meta = readMeta(projectDir);
  assert.deepEqual([meta.width, meta.height, meta.fps, meta.rx], [641, 481, 24, [101, 51, 742, 532]]);
  const lines = logMessages(projectDir);
  assert.ok(lines.includes('screenRecorder: VIDEO_FPS: 24') && lines.includes('screenRecorder: VIDEO_BIT_RATE: 4000000'));
});
