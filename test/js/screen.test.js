'use strict';
// The screen track end to end on a real display: output.mp4 as ffprobe sees it, the figures in
// meta.json and the screen recorder's log lines.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const fs = require('fs');
const { execFileSync, spawn } = require('child_process');
const { tempDir, readMeta, logMessages, runNode } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');

useTestServices();

function displaySize() {
  const info = execFileSync('xdpyinfo', { encoding: 'utf8' });
  const [, width, height] = info.match(/dimensions:\s+(\d+)x(\d+) pixels/);
  return { width: Number(width), height: Number(height) };
}

// Records in a child process, so that no X connection of the add-on outlives the recording when
// this file's own display is stopped.
function recordScreen(options, millis = 1500, { during = '', env = {} } = {}) {
  const projectDir = tempDir('desktracks-screen-');
  const settings = { projectDir, micIndex: -1, systemAudioIndex: -1, webcamIndex: -1, ...options };
  const child = runNode(`
    const recorder = new Recorder();
    const startedAt = Date.now();
    recorder.start(${JSON.stringify(settings)});
    setTimeout(() => { ${during} }, ${Math.floor(millis / 2)});
    setTimeout(() => {
      recorder.end();
      console.log(JSON.stringify({ startedAt, endedAt: Date.now() }));
    }, ${millis});`, { env });
  assert.equal(child.status, 0, `child ended with ${child.status ?? child.signal}: ${child.stderr}`);
  const times = JSON.parse(child.stdout.trim().split('\n').at(-1));
  return { projectDir, ...times };
}

function probe(file) {
  // A small area on a still screen makes thousands of samples a second: allow a large listing.
  const out = JSON.parse(
    execFileSync(
      'ffprobe',
      ['-v', 'error', '-show_streams', '-show_entries', 'packet=pts,duration', '-of', 'json', file],
      { encoding: 'utf8', maxBuffer: 1 << 30 }
    )
  );
  const video = out.streams.filter((s) => s.codec_type === 'video');
  return { streams: out.streams, video: video[0], packets: out.packets.map((p) => ({ pts: Number(p.pts), duration: Number(p.duration) })) };
}

function checkVideo(projectDir, { width, height }) {
  const file = path.join(projectDir, 'output.mp4');
  assert.ok(fs.existsSync(file), 'output.mp4 exists');
  const { streams, video, packets } = probe(file);
  assert.equal(streams.length, 1, 'one stream, no audio');
  assert.equal(video.codec_name, 'h264');
  assert.equal(video.width, width);
  assert.equal(video.height, height);
  assert.equal(video.time_base, '1/10000000');
  assert.ok(packets.length >= 5, `a sample on every pass (${packets.length})`);
  assert.equal(Number(video.nb_frames), packets.length);
  assert.equal(packets[0].pts, 0, 'the first sample is at 0');
  for (let i = 1; i < packets.length; i++) {
    assert.ok(packets[i].pts > packets[i - 1].pts, 'times grow');
    assert.equal(packets[i - 1].duration, packets[i].pts - packets[i - 1].pts, 'durations are the measured intervals');
  }
  return packets;
}

test('whole output', () => {
  const size = displaySize();
  const { projectDir, startedAt, endedAt } = recordScreen({});
  const packets = checkVideo(projectDir, size);

  const meta = readMeta(projectDir);
  assert.equal(meta.width, size.width);
  assert.equal(meta.height, size.height);
  assert.equal(meta.fps, 30);
  assert.deepEqual(meta.rx, [0, 0, 0, 0]);
  assert.ok(meta.time >= startedAt && meta.time <= endedAt, 'time is the first sample wall-clock time');
  assert.ok(packets.at(-1).pts / 10000 <= endedAt - meta.time, 'the video spans no more than the recording');

  const lines = logMessages(projectDir);
  const order = [
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

test('an area sets the video size, rates come from the options', () => {
  const { projectDir } = recordScreen({ area: [100, 50, 740, 530], fps: 24, bitrate: 4000000 });
  checkVideo(projectDir, { width: 640, height: 480 });
  const meta = readMeta(projectDir);
  assert.equal(meta.width, 640);
  assert.equal(meta.height, 480);
  assert.equal(meta.fps, 24);
  assert.deepEqual(meta.rx, [100, 50, 740, 530]);
  const lines = logMessages(projectDir);
  assert.ok(lines.includes('screenRecorder: VIDEO_FPS: 24'));
  assert.ok(lines.includes('screenRecorder: VIDEO_BIT_RATE: 4000000'));
});

test('an odd-sized area is encoded one column and row smaller, meta.json keeps its size', () => {
  const { projectDir } = recordScreen({ area: [101, 51, 742, 532] });
  checkVideo(projectDir, { width: 640, height: 480 });
  const meta = readMeta(projectDir);
  assert.equal(meta.width, 641);
  assert.equal(meta.height, 481);
});

test('an unusable area and rates fall back to the whole output and the defaults', () => {
  const size = displaySize();
  const { projectDir } = recordScreen({ area: [500, 500, 100, 100], fps: -5, bitrate: 0 });
  checkVideo(projectDir, size);
  const meta = readMeta(projectDir);
  assert.equal(meta.width, size.width);
  assert.equal(meta.fps, 30);
  const lines = logMessages(projectDir);
  assert.ok(lines.includes('screenRecorder: capture area [500, 500, 100, 100] is not usable, recording the whole output'));
  assert.ok(lines.includes('screenRecorder: fps -5 is not usable, using 30'));
  assert.ok(lines.includes('screenRecorder: VIDEO_BIT_RATE: 18000000'));
});

// A display of the test's own, for changes that would disturb other tests.
function privateXvfb(size, extra = []) {
  return new Promise((resolve, reject) => {
    const server = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', size, '-nolisten', 'tcp', '+extension', 'RANDR', ...extra], {
      stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
    });
    server.on('error', reject);
    let text = '';
    server.stdio[3].on('data', (chunk) => {
      text += chunk;
      if (text.endsWith('\n')) resolve({ display: `:${text.trim()}`, server });
    });
  });
}

test('a screen resize during recording re-creates the duplication and keeps the video size', async (t) => {
  const { display, server } = await privateXvfb('800x600x24');
  t.after(() => server.kill());
  const { projectDir } = recordScreen({}, 2000, {
    env: { DISPLAY: display },
    during: "require('child_process').spawnSync('xrandr', ['--fb', '640x480']);",
  });
  checkVideo(projectDir, { width: 800, height: 600 });
  const lines = logMessages(projectDir);
  assert.equal(lines.filter((l) => l === 'screenRecorder: AcquireNextFrame DXGI_ERROR_ACCESS_LOST').length, 1, lines.join('\n'));
  assert.ok(lines.includes('screenRecorder: Finalize success'));
  assert.equal(readMeta(projectDir).width, 800);
});

test('an area outside the screen records black where there is no desktop', async (t) => {
  const { display, server } = await privateXvfb('800x600x24', ['-wr']);  // a white desktop
  t.after(() => server.kill());
  const { projectDir } = recordScreen({ area: [700, 540, 900, 660] }, 1500, { env: { DISPLAY: display } });
  checkVideo(projectDir, { width: 200, height: 120 });
  assert.equal(readMeta(projectDir).width, 200);
  // Luma of the first frame: the white desktop's corner top left, black elsewhere.
  const gray = execFileSync(
    'ffmpeg',
    ['-v', 'error', '-i', path.join(projectDir, 'output.mp4'), '-frames:v', '1', '-f', 'rawvideo', '-pix_fmt', 'gray', '-'],
    { maxBuffer: 1 << 20 }
  );
  const mean = (x0, y0, x1, y1) => {
    let sum = 0;
    for (let y = y0; y < y1; y++) for (let x = x0; x < x1; x++) sum += gray[y * 200 + x];
    return sum / ((x1 - x0) * (y1 - y0));
  };
  assert.ok(mean(10, 10, 90, 50) > 200, `desktop part ${mean(10, 10, 90, 50)}`);
  assert.ok(mean(110, 10, 190, 50) < 20, `right of the desktop ${mean(110, 10, 190, 50)}`);
  assert.ok(mean(10, 70, 190, 110) < 20, `below the desktop ${mean(10, 70, 190, 110)}`);
});

