'use strict';
// The webcam track against a real V4L2 driver: vivid's webcam input in the QEMU guest that
// scripts/test-webcam-guest.sh boots. The guest has no display and no sound server, so the
// screen, audio and input tracks fail on their own while the webcam records.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const { Recorder, listCameras, getStatus } = require('../..');
const { tempDir, readJson, readLog, logMessages } = require('../js/helpers/project');

const device = '/dev/video0';
if (!process.env.DESKTRACKS_GUEST || !fs.existsSync(device)) {
  test('webcam against vivid', { skip: 'runs in the guest of scripts/test-webcam-guest.sh' }, () => {});
  return;
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const v4l2 = (...args) => execFileSync('v4l2-ctl', ['-d', device, ...args], { encoding: 'utf8' });
const setFormat = (pixelformat, width, height, fps) =>
  v4l2(`--set-fmt-video=width=${width},height=${height},pixelformat=${pixelformat}`, `--set-parm=${fps}`);
// Programs start slowly in the guest: one ffprobe and one ffmpeg per file.
const probe = (file) => {
  const out = execFileSync('ffprobe', ['-v', 'error', '-select_streams', 'v', '-of', 'json', '-show_entries',
    'stream=codec_name,profile,width,height:packet=pts_time', file], { encoding: 'utf8' });
  const { streams, packets } = JSON.parse(out);
  return { ...streams[0], pts: packets.map((p) => Number(p.pts_time)) };
};
// Row y of the first frame, as [R, G, B] per pixel.
const row = (file, width, y) => {
  const bytes = execFileSync('ffmpeg', ['-v', 'error', '-i', file, '-frames:v', '1', '-vf', `crop=${width}:2:0:${y},format=rgb24`,
    '-f', 'rawvideo', '-']);
  return (x) => Array.from(bytes.subarray(x * 3, x * 3 + 3));
};

// Records about `seconds` of the camera; with `fromFirstWrite`, counted from the moment the
// writer has opened webcam.mp4, since set-up speed varies a lot in the emulated guest.
async function record(seconds, { during, fromFirstWrite = false } = {}) {
  const projectDir = tempDir();
  const file = path.join(projectDir, 'webcam.mp4');
  const recorder = new Recorder();
  recorder.start({ projectDir, webcamIndex: 0 });
  for (let waited = 0; fromFirstWrite && !fs.existsSync(file) && waited < 30000; waited += 50) await sleep(50);
  if (during) await during();
  await sleep(seconds * 1000);
  const before = Date.now();
  recorder.end();
  return { projectDir, file, endMillis: Date.now() - before, log: logMessages(projectDir) };
}

const webcamLines = (log) => log.filter((line) => line.startsWith('WebcamRecorder:'));

// vivid writes counters and text over its picture unless told not to.
v4l2('-c', 'osd_text_mode=2');

test('each format the driver offers records at the camera size, rate and arrival times', async (t) => {
  assert.deepEqual(listCameras(), [{ index: 0, name: 'vivid' }]);
  // The first encoding in the guest loads the encoder's code through the emulated file share and
  // stalls for about a second, which a camera would fill with dropped frames: warm up first.
  setFormat('YUYV', 320, 180, 10);
  await record(1, { fromFirstWrite: true });

  // [V4L2 format, size, rate, the line naming the format, the subtype GUID logged for index 0]
  const cases = [
    ['YUYV', 640, 360, 10, 'WebcamRecorder:Using YUY2 format.', '{32595559-0000-0010-8000-00AA00389B71}'],
    ['NV12', 320, 180, 30, 'WebcamRecorder:Using NV12 format.', '{3231564E-0000-0010-8000-00AA00389B71}'],
    ['YU12', 640, 360, 15, null, '{30323449-0000-0010-8000-00AA00389B71}'],
    ['BGR3', 320, 180, 10, 'WebcamRecorder:Using RGB24 format.', '{00000014-0000-0010-8000-00AA00389B71}'],
    ['RGB3', 320, 180, 10, null, '{33424752-0000-0010-8000-00AA00389B71}'],
  ];
  for (const [format, width, height, fps, formatLine, guid] of cases) {
    await t.test(`${format} ${width}x${height} at ${fps} fps`, async (tc) => {
      setFormat(format, width, height, fps);
      const { projectDir, file, log } = await record(2.5, { fromFirstWrite: true });
      const lines = webcamLines(log);
      // These two messages end in a line feed of their own.
      assert.match(readLog(projectDir), /WebcamRecorder:Recording\.\.\.\n\n[^]*WebcamRecorder:Finalising the capture\.\n\n/);
      const usingLines = lines.filter((line) => /^WebcamRecorder:Using (RGB24|YUY2|NV12) format\.$/.test(line));
      assert.deepEqual(usingLines, formatLine ? [formatLine] : []);
      // The current format is listed first, and is the one recorded.
      const first = log.indexOf('Native Media Type 0:');
      assert.deepEqual(log.slice(first, first + 4),
        ['Native Media Type 0:', `  Subtype: ${guid}`, `  Resolution: ${width}x${height}`, `  Frame Rate: ${fps}/1 fps`]);
      assert.ok(log.indexOf('Native Media Type 1:') > first, 'every native type is listed');
      assert.ok(lines.includes(`WebcamRecorder:Using native format: ${width}x${height} @${fps} fps`));
      assert.ok(!lines.some((line) => /Error|Failed/.test(line)), lines.join('\n'));

      const samplesCounted = getStatus().webcam.samples;
      const { codec_name, profile, pts, ...size } = probe(file);
      assert.deepEqual([codec_name, profile, size], ['h264', 'Main', { width, height }]);
      assert.equal(pts[0], 0);
      for (let i = 1; i < pts.length; i++) assert.ok(pts[i] > pts[i - 1], `pts ${pts[i - 1]} then ${pts[i]}`);
      // Frame count against the driver's rate over the span the samples cover, within 10 %.
      const expected = pts[pts.length - 1] * fps + 1;
      const counted = `${pts.length} frames over ${pts[pts.length - 1].toFixed(3)} s at ${fps} fps (${expected.toFixed(1)} expected)`;
      tc.diagnostic(counted);
      assert.ok(Math.abs(pts.length - expected) <= expected * 0.1, counted);
      assert.ok(pts.length >= 5, `${pts.length} frames`);
      assert.equal(samplesCounted, pts.length, 'the live status counts every written sample');

      // vivid's 75% colour bars: yellow second, cyan third; a swapped R/B or U/V shows here.
      const pixel = row(file, width, height / 2);
      const [yr, yg, yb] = pixel(Math.round((width * 1.5) / 8));
      const [cr, cg, cb] = pixel(Math.round((width * 2.5) / 8));
      assert.ok(yr > 140 && yg > 140 && yb < 60, `yellow bar is ${[yr, yg, yb]}`);
      assert.ok(cr < 60 && cg > 140 && cb > 140, `cyan bar is ${[cr, cg, cb]}`);
    });
  }
});

test('tracks.json dates the webcam: a picture change lands within one camera frame of its moment', async (t) => {
  const fps = 10;
  setFormat('YUYV', 320, 180, fps);
  v4l2('-c', 'test_pattern=5'); // black
  let changedBefore = 0;
  let changedAfter = 0;
  const { projectDir, file } = await record(1, {
    fromFirstWrite: true,
    during: async () => {
      await sleep(1500);
      changedBefore = performance.timeOrigin + performance.now();
      v4l2('-c', 'test_pattern=6'); // white
      changedAfter = performance.timeOrigin + performance.now();
    },
  });
  v4l2('-c', 'test_pattern=0');
  const webcam = readJson(projectDir, 'tracks.json').tracks.find((e) => e.kind === 'webcam');
  assert.deepEqual([webcam.file, webcam.device, webcam.status], ['webcam.mp4', 'vivid', 'recorded']);
  const { pts } = probe(file);
  assert.equal(webcam.count, pts.length);
  const grey = execFileSync('ffmpeg', ['-v', 'error', '-i', file, '-fps_mode', 'passthrough', '-vf', 'crop=2:2:160:90,format=gray',
    '-f', 'rawvideo', '-']);
  const first = pts.findIndex((_, i) => grey[i * 4] > 128);
  assert.ok(first > 0, 'the change is in the file');
  const seen = webcam.start + pts[first] * 1000;
  const interval = 1000 / fps;
  t.diagnostic(`webcam: change seen ${(seen - changedBefore).toFixed(1)} ms after v4l2-ctl started, ` +
    `${(seen - changedAfter).toFixed(1)} ms after it returned`);
  assert.ok(seen >= changedBefore - interval && seen <= changedAfter + interval,
    `seen ${(seen - changedBefore).toFixed(1)} ms after the change began (v4l2-ctl took ${(changedAfter - changedBefore).toFixed(1)} ms)`);
});

// Cameras that fail or never deliver: their error line (a camera that delivers nothing ends on the
// flag, not on a read error), end() never held, and a file only with frames in it.
const failures = [
  { what: 'a first type the encoder cannot take (8-bit Bayer)', format: 'BA81', seconds: 0.5, errors: ['WebcamRecorder:Error setting the sink writer video input type.'] },
  { what: 'a camera that stops delivering', control: 'percentage_of_dropped_buffers', seconds: 1.5 },
  { what: 'end() during set-up', seconds: 0 },
  { what: 'a camera removed mid-recording', fromFirstWrite: true, frames: 10, errors: ['WebcamRecorder:Error reading video sample.'],
    during: async () => {
      await sleep(2000);
      fs.writeFileSync('/sys/bus/platform/drivers/vivid/unbind', 'vivid.0');
    } },
];
for (const { what, format = 'YUYV', control, seconds = 1, fromFirstWrite = false, during, errors, frames } of failures) {
  test(`${what}: ${frames ? 'a playable file' : 'no file'}`, async () => {
    setFormat(format, 320, 180, format === 'BA81' ? 10 : 30);
    if (control) v4l2('-c', `${control}=100`);
    try {
      const { projectDir, file, log, endMillis } = await record(seconds, { fromFirstWrite, during });
      const lines = webcamLines(log);
      if (errors) assert.deepEqual(lines.filter((line) => /Error|Failed/.test(line)), errors);
      else assert.ok(!lines.includes('WebcamRecorder:Error reading video sample.'), lines.join('\n'));
      assert.ok(endMillis < 5000, `end() took ${endMillis} ms`);
      assert.ok(fs.existsSync(path.join(projectDir, 'meta.json')), 'the recording itself completes');
      if (!frames) return assert.equal(fs.existsSync(file), false);
      const { codec_name, width, height, pts } = probe(file);
      assert.deepEqual([codec_name, width, height], ['h264', 320, 180]);
      assert.ok(pts.length > frames, `${pts.length} frames`);
      assert.deepEqual(listCameras(), []);
    } finally {
      if (control) v4l2('-c', `${control}=0`);
    }
  });
}
