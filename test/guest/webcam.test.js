'use strict';
// The webcam track against a real V4L2 driver: vivid's webcam input in the QEMU guest that
// scripts/test-webcam-guest.sh boots. The guest has no display and no sound server, so the
// screen, audio and input tracks fail on their own while the webcam records.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { execFileSync, spawn } = require('child_process');
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
async function record(seconds, { during, fromFirstWrite = false, webcamFormat } = {}) {
  const projectDir = tempDir();
  const file = path.join(projectDir, 'webcam.mp4');
  const recorder = new Recorder();
  recorder.start({ projectDir, webcamIndex: 0, webcamFormat });
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
const unbind = () => fs.writeFileSync('/sys/bus/platform/drivers/vivid/unbind', 'vivid.0');
const bind = () => fs.writeFileSync('/sys/bus/platform/drivers/vivid/bind', 'vivid.0');
const choiceLine = (log) => {
  const line = webcamLines(log).find((l) => l.startsWith('WebcamRecorder:webcamFormat '));
  const [, subtype, width, height, fps] = line.match(/: (\S+) (\d+)x(\d+) at ([\d.]+) fps/);
  return { line, subtype, width: Number(width), height: Number(height), fps: Number(fps) };
};

test('webcamFormat chooses among the driver\'s formats; frames per second delivered against its rate', async (t) => {
  const cases = [
    // The current format (set beforehand) is the first type.
    { webcamFormat: 'first', before: ['YUYV', 320, 180, 30], expect: { subtype: 'YUY2', width: 320, height: 180, fps: 30 } },
    // vivid: 640x480 is the largest size at 24 fps or more (25); YUYV is its first uncompressed format.
    { webcamFormat: 'best', expect: { subtype: 'YUY2', width: 640, height: 480, fps: 25 } },
    // The nearest type to a wish: uncompressed, the size asked, the rate nearest to it.
    { webcamFormat: { width: 640, height: 360, fps: 14 }, expect: { width: 640, height: 360, fps: 15 } },
  ];
  for (const { webcamFormat, before, expect } of cases) {
    await t.test(JSON.stringify(webcamFormat), async (tc) => {
      if (before) setFormat(...before);
      const { file, log } = await record(3, { fromFirstWrite: true, webcamFormat });
      const chosen = choiceLine(log);
      for (const [key, value] of Object.entries(expect)) assert.equal(chosen[key], value, chosen.line);
      const { width, height, pts } = probe(file);
      assert.deepEqual([width, height], [chosen.width, chosen.height]);
      const delivered = (pts.length - 1) / pts[pts.length - 1];
      tc.diagnostic(`${chosen.line.slice('WebcamRecorder:'.length)}: ${delivered.toFixed(2)} frames per second delivered ` +
        `(${pts.length} frames over ${pts[pts.length - 1].toFixed(2)} s) against the driver's ${chosen.fps}`);
      assert.ok(pts.length >= 5, `${pts.length} frames`);
    });
  }
});

test('a camera unbound and bound again: one file, a logged gap, frames after it', async () => {
  setFormat('YUYV', 320, 180, 30);
  const { projectDir, file, log } = await record(4, {
    fromFirstWrite: true,
    during: async () => {
      await sleep(1500);
      unbind();
      await sleep(2000);
      bind();
    },
  });
  const lines = webcamLines(log);
  const errors = lines.filter((line) => /Error|Failed|is gone|did not/.test(line));
  assert.equal(errors.length, 1, lines.join('\n'));
  assert.match(errors[0], /^WebcamRecorder:Error reading video sample\. "vivid" is gone: unplugged or its driver stopped \(errno \d+, [^)]+\); trying again about once a second$/);
  const back = lines.find((line) => line.startsWith('WebcamRecorder:"vivid" is back after'));
  assert.ok(back, lines.join('\n'));
  const [, from, to] = back.match(/no frames from ([\d.]+) s to ([\d.]+) s$/).map(Number);
  assert.ok(to - from > 1.5, back);
  const webcam = readJson(projectDir, 'tracks.json').tracks.find((e) => e.kind === 'webcam');
  assert.equal(webcam.status, 'recorded', webcam.reason);
  assert.equal(webcam.gaps.length, 1);
  assert.ok(Math.abs(webcam.gaps[0].from / 1000 - from) < 0.01 && Math.abs(webcam.gaps[0].to / 1000 - to) < 0.01, JSON.stringify(webcam.gaps));
  const { codec_name, width, height, pts } = probe(file);
  assert.deepEqual([codec_name, width, height], ['h264', 320, 180]);
  const after = pts.filter((p) => p >= to - 0.001).length;
  assert.ok(after >= 5, `${after} frames after the gap`);
  // The line's seconds are rounded to 10 ms.
  assert.deepEqual(pts.filter((p) => p > from + 0.006 && p < to - 0.006), [], 'nothing inside the gap');
});

test('a camera another process streams from: the line says busy, the track starts once it is free', async () => {
  setFormat('YUYV', 320, 180, 30);
  const holder = spawn('v4l2-ctl', ['-d', device, '--stream-mmap', '--stream-count=100000'], { stdio: 'ignore' });
  // Streaming once the format can no longer be set (programs start slowly in the guest).
  for (let waited = 0; waited < 60000; waited += 500) {
    try {
      setFormat('YUYV', 320, 180, 30);
    } catch {
      break;
    }
    await sleep(500);
  }
  try {
    const { projectDir, file, log } = await record(4, {
      // Freed once the recorder has said it is busy (its set-up takes seconds in the guest).
      during: async () => {
        const logFile = () => fs.readdirSync('/tmp').map((d) => path.join('/tmp', d, 'recorder.log'))
          .filter((f) => fs.existsSync(f)).sort((a, b) => fs.statSync(b).mtimeMs - fs.statSync(a).mtimeMs)[0];
        for (let waited = 0; waited < 120000; waited += 500) {
          const current = logFile();
          if (current && fs.readFileSync(current, 'utf8').includes('is busy: another application')) break;
          await sleep(500);
        }
        holder.kill();
      },
    });
    const lines = webcamLines(log);
    assert.ok(lines.some((line) => /^WebcamRecorder:"vivid" is busy: another application is using it \(errno 16, Device or resource busy\); trying again about once a second$/.test(line)),
      lines.join('\n'));
    assert.ok(lines.some((line) => /^WebcamRecorder:"vivid" is available after [\d.]+ s; webcam\.mp4 starts with its first frame$/.test(line)), lines.join('\n'));
    const webcam = readJson(projectDir, 'tracks.json').tracks.find((e) => e.kind === 'webcam');
    assert.equal(webcam.status, 'recorded', webcam.reason);
    assert.ok(probe(file).pts.length >= 5);
  } finally {
    holder.kill();
  }
});

const failures = [
  // A writer that got no frame fails to finalise and leaves no file, and the fixed line says so.
  { what: 'a camera that stops delivering', control: 'percentage_of_dropped_buffers', seconds: 1.5,
    errors: [/^WebcamRecorder:Error finalising H\.264 sink writer\.$/] },
  { what: 'end() during set-up', seconds: 0, errors: [/^WebcamRecorder:Error finalising H\.264 sink writer\.$/] },
  { what: 'a camera removed mid-recording', fromFirstWrite: true, frames: 10,
    errors: [/^WebcamRecorder:Error reading video sample\. "vivid" is gone: unplugged or its driver stopped \(errno \d+, [^)]+\); trying again about once a second$/,
      /^WebcamRecorder:"vivid" did not come back; webcam\.mp4 ends at [\d.]+ s$/],
    during: async () => {
      await sleep(2000);
      unbind();
    } },
];
test('a first type the encoder cannot take (8-bit Bayer): the first one it can is recorded', async () => {
  setFormat('BA81', 320, 180, 10);
  const { file, log } = await record(2, { fromFirstWrite: true });
  const chosen = choiceLine(log);
  assert.match(chosen.line, /\(native type 0 cannot be recorded\)$/);
  assert.notEqual(chosen.subtype, '{31384142-0000-0010-8000-00AA00389B71}');
  assert.deepEqual(webcamLines(log).filter((line) => /Error|Failed/.test(line)), []);
  assert.ok(probe(file).pts.length >= 1);
});

for (const { what, format = 'YUYV', control, seconds = 1, fromFirstWrite = false, during, errors, frames } of failures) {
  test(`${what}: ${frames ? 'a playable file' : 'no file'}`, async () => {
    setFormat(format, 320, 180, format === 'BA81' ? 10 : 30);
    if (control) v4l2('-c', `${control}=100`);
    try {
      const { projectDir, file, log, endMillis } = await record(seconds, { fromFirstWrite, during });
      const lines = webcamLines(log);
      const errorLines = lines.filter((line) => /Error|Failed|did not/.test(line));
      if (errors) {
        assert.equal(errorLines.length, errors.length, lines.join('\n'));
        errors.forEach((pattern, i) => assert.match(errorLines[i], pattern));
      } else {
        assert.deepEqual(errorLines, []);
      }
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
