'use strict';
// Recording on machines set up unlike the test services: no sound server (PulseAudio unreachable,
// ALSA's placeholder devices only), an X server without MIT-SHM, no X display at all, and a
// Wayland session whose X server is Xwayland. Each records through the library's record() in a
// child process with that environment, and checks the files against the wall clock, the log,
// tracks.json and the live status.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawn, spawnSync, execFileSync } = require('child_process');
const { tempDir, repoRoot, readJson, logMessages } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');

useTestServices();

// Records `seconds` with `options` under `env`; gives the files, the log, the live status seen
// during the recording and the notes the command line would print.
function recordIn(env, { seconds = 2, ...options } = {}) {
  const dir = tempDir('desktracks-env-');
  const driver = `
    const { record } = require(${JSON.stringify(path.join(repoRoot, 'lib', 'record.js'))});
    const seen = { failures: [], warnings: [] };
    const handle = record(${JSON.stringify({ dir, seconds, ...options })}, {
      statusEveryMs: 200,
      onStatus: (s) => { seen.failures = s.failures; seen.warnings = s.warnings; },
    });
    handle.finished.then((r) => {
      console.log(JSON.stringify({ notes: handle.notes, live: seen, final: r.status, elapsedMs: r.status.elapsedMs }));
      process.exit(0);
    }, (err) => { console.error(err.stack); process.exit(3); });`;
  const started = Date.now();
  const result = spawnSync(process.execPath, ['-e', driver], { env, encoding: 'utf8', timeout: 120000 });
  assert.equal(result.status, 0, result.stderr);
  const out = JSON.parse(result.stdout.trim().split('\n').pop());
  return { dir, wallMs: Date.now() - started, ...out, log: logMessages(dir), tracks: readJson(dir, 'tracks.json').tracks };
}

const trackOf = (run, kind) => run.tracks.find((t) => t.kind === kind);
const withoutKeys = (env, ...keys) => Object.fromEntries(Object.entries(env).filter(([k]) => !keys.includes(k)));

function ffprobeDuration(file) {
  return Number(execFileSync('ffprobe', ['-v', 'error', '-show_entries', 'format=duration', '-of', 'csv=p=0', file], { encoding: 'utf8' }));
}

// An Xvfb of the test's own, with `args` added; stopped when the test file ends.
function startXvfb(args) {
  const dir = tempDir('desktracks-xvfb-');
  const displayFile = path.join(dir, 'display');
  const fd = fs.openSync(displayFile, 'w');
  // Under `timeout`, so that a test process killed outright leaves no server behind for long.
  const xvfb = spawn('timeout', ['600', 'Xvfb', '-displayfd', '3', '-screen', '0', '1280x720x24', '-nolisten', 'tcp', ...args],
    { stdio: ['ignore', 'ignore', 'ignore', fd] });
  fs.closeSync(fd);
  xvfb.unref();
  process.once('exit', () => xvfb.kill('SIGTERM'));
  for (let i = 0; i < 100 && !fs.readFileSync(displayFile, 'utf8').trim(); i += 1) spawnSync('sleep', ['0.05']);
  const display = `:${fs.readFileSync(displayFile, 'utf8').trim()}`;
  assert.notEqual(display, ':', 'Xvfb did not start');
  return display;
}

test('no sound server: the audio tracks and the keep-alive say so in one plain line each', async (t) => {
  // PulseAudio unreachable; miniaudio falls back to ALSA, which lists only plugin devices here.
  const env = { ...process.env, PULSE_SERVER: 'unix:/nonexistent/desktracks-no-server' };
  const noServer = /no sound server could be reached \(PulseAudio or PipeWire\)/;

  await t.test('the default microphone is none of ALSA\'s placeholders; system audio and keep-alive fail plainly', () => {
    const run = recordIn(env);
    assert.match(run.notes.join('\n'), /no microphone recorded: no sound server could be reached/);
    assert.equal(trackOf(run, 'microphone'), undefined);
    assert.ok(!fs.existsSync(path.join(run.dir, 'mivox.wav')));
    const system = trackOf(run, 'systemAudio');
    assert.equal(system.status, 'failed');
    assert.match(system.reason, /^playbackRecorder: no sound server could be reached .*none to record$/);
    assert.equal(fs.statSync(path.join(run.dir, 'output.wav')).size, 44);  // a valid, empty WAV
    const lines = run.log.filter((l) => noServer.test(l));
    assert.deepEqual(lines.map((l) => l.split(':')[0]).sort(), ['playbackRecorder', 'silent'], run.log.join('\n'));
    assert.ok(!run.log.some((l) => /Activate failed: 0x/.test(l)), 'no bare status code on Linux');
    for (const track of ['systemAudio', 'keepAlive']) {
      assert.match(run.live.failures.find((f) => f.track === track).message, noServer, track);
    }
    // The screen goes on, as long as the wall clock says.
    assert.ok(Math.abs(ffprobeDuration(path.join(run.dir, 'output.mp4')) - 2) < 0.5);
  });

  await t.test('a placeholder chosen on purpose records, with a warning naming it', () => {
    const run = recordIn(env, { seconds: 1, mic: 0, systemAudio: false });
    const mic = trackOf(run, 'microphone');
    assert.deepEqual(mic.warnings.map((w) => w.code), ['noSoundServer']);
    assert.match(mic.warnings[0].message, /^mic: no sound server could be reached .*recording straight from the device ".+", which names no sound card and records no sound$/);
    assert.ok(run.live.warnings.some((w) => w.track === 'microphone' && w.code === 'noSoundServer'));
    assert.ok(run.log.some((l) => l === mic.warnings[0].message));
  });
});

test('an X server without MIT-SHM (and without DAMAGE): the screen is read with plain XGetImage', async (t) => {
  for (const damage of [true, false]) {
    await t.test(damage ? 'DAMAGE tells what changed' : 'no DAMAGE either: every pass reads the whole screen', () => {
      recordWithoutSharedMemory(damage);
    });
  }
});

function recordWithoutSharedMemory(damage) {
  const display = startXvfb(['-extension', 'MIT-SHM', ...(damage ? [] : ['-extension', 'DAMAGE'])]);
  assert.ok(!execFileSync('xdpyinfo', ['-display', display], { encoding: 'utf8' }).includes('MIT-SHM'));
  const run = recordIn({ ...process.env, DISPLAY: display }, { seconds: 3, systemAudio: false, mic: false });
  assert.ok(run.log.some((l) => /^screenRecorder: the X server shares no memory with this process .*plain XGetImage/.test(l)), run.log.join('\n'));
  assert.equal(run.log.some((l) => l === 'screenRecorder: the X server has no DAMAGE extension: every pass reads the whole screen'), !damage);
  const screen = trackOf(run, 'screen');
  assert.equal(screen.status, 'recorded');
  assert.equal(screen.warnings, undefined);
  const duration = ffprobeDuration(path.join(run.dir, 'output.mp4'));
  assert.ok(Math.abs(duration - 3) < 0.5, `video ${duration} s for 3 s`);
  assert.ok(screen.count > 30, `${screen.count} samples`);
  assert.deepEqual(run.live.failures, []);
  assert.deepEqual(readJson(run.dir, 'meta.json').width, 1280);
}

test('no X display: X11 reasons beside the fixed lines, and cursor_info.json is an empty object', async (t) => {
  for (const [name, display, reason] of [
    ['DISPLAY unset', undefined, /^screenRecorder: no X display: DISPLAY is not set/],
    ['nothing behind DISPLAY', ':987', /^screenRecorder: cannot open the X display ":987": no X server answers there/],
  ]) {
    await t.test(name, () => {
      const env = withoutKeys(process.env, 'DISPLAY');
      if (display) env.DISPLAY = display;
      const run = recordIn(env, { seconds: 1, systemAudio: false, mic: false });
      const at = run.log.indexOf('Failed to create DXGIFactory1. HRESULT: 0x80004005');
      assert.ok(at >= 0, run.log.join('\n'));
      assert.match(run.log[at + 1], reason);
      assert.equal(run.log[at + 2], 'screenRecorder: createDevice failed');
      assert.ok(run.log.includes('Failed to create DXGIFactory1'));
      const screen = trackOf(run, 'screen');
      assert.equal(screen.status, 'failed');
      assert.match(screen.reason, reason);
      assert.match(run.live.failures.find((f) => f.track === 'screen').message, reason);
      assert.ok(!fs.existsSync(path.join(run.dir, 'output.mp4')));
      assert.equal(fs.readFileSync(path.join(run.dir, 'cursor_info.json'), 'utf8'), '{}');
    });
  }
});

test('a Wayland session: only X11 windows are visible through Xwayland, and everything says so', async (t) => {
  const runtime = tempDir('desktracks-wayland-');
  fs.chmodSync(runtime, 0o700);
  const westonLog = path.join(runtime, 'weston.log');
  const weston = spawn('timeout', ['600', 'weston', '--backend=headless-backend.so', '--xwayland', '--socket=wayland-desktracks',
    '--width=1024', '--height=768', `--log=${westonLog}`], { env: { ...process.env, XDG_RUNTIME_DIR: runtime }, stdio: 'ignore' });
  weston.unref();
  process.once('exit', () => weston.kill('SIGTERM'));
  let display = null;
  for (let i = 0; i < 100 && !display; i += 1) {
    spawnSync('sleep', ['0.05']);
    const text = fs.existsSync(westonLog) ? fs.readFileSync(westonLog, 'utf8') : '';
    display = (/xserver listening on display (:\d+)/.exec(text) || [])[1] || null;
  }
  assert.ok(display, 'weston did not start Xwayland');
  // Weston starts Xwayland on the first connection: not inside the recording's seconds.
  execFileSync('xdpyinfo', ['-display', display], { stdio: 'ignore', timeout: 30000 });
  const wayland = { ...process.env, DISPLAY: display, WAYLAND_DISPLAY: 'wayland-desktracks', XDG_SESSION_TYPE: 'wayland', XDG_RUNTIME_DIR: runtime };

  await t.test('Xwayland: a warning in the log, the live status and tracks.json; the video is still written', () => {
    const run = recordIn(wayland, { seconds: 2, systemAudio: false, mic: false });
    const line = run.log.find((l) => /only X11 windows are visible/.test(l));
    assert.match(line, /^screenRecorder: this is a Wayland session: the X server is Xwayland, so only X11 windows are visible/);
    const screen = trackOf(run, 'screen');
    assert.equal(screen.status, 'recorded');
    assert.deepEqual(screen.warnings, [{ code: 'partialCapture', message: line }]);
    assert.deepEqual(run.live.warnings, [{ track: 'screen', code: 'partialCapture', message: line }]);
    assert.ok(Math.abs(ffprobeDuration(path.join(run.dir, 'output.mp4')) - 2) < 0.5);
    assert.equal(readJson(run.dir, 'meta.json').width, 1024);
  });

  await t.test('another X server in a Wayland session is really captured: no warning', () => {
    const run = recordIn({ ...wayland, DISPLAY: process.env.DISPLAY }, { seconds: 1, systemAudio: false, mic: false });
    assert.ok(!run.log.some((l) => /Wayland/.test(l)));
    assert.equal(trackOf(run, 'screen').warnings, undefined);
    assert.deepEqual(run.live.warnings, []);
  });
});
