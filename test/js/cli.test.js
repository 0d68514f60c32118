'use strict';
// The desktracks command end to end on the test services: usage errors, a recording with every
// kind of flag, progress without a terminal, Ctrl-C, and inspect on a good recording (table and
// overview.png) and on damaged ones.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawn, spawnSync, execFileSync } = require('child_process');
const { tempDir, repoRoot, readJson } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');
const { playTone } = require('./helpers/sound');

useTestServices();

const bin = path.join(repoRoot, 'bin', 'desktracks.js');
const run = (args) => spawnSync(process.execPath, [bin, ...args], { encoding: 'utf8', timeout: 120000 });
const xdotool = (...args) => execFileSync('xdotool', args.map(String));

test('usage', async (t) => {
  await t.test('every command has --help', () => {
    for (const command of ['record', 'devices', 'inspect']) {
      const result = run([command, '--help']);
      assert.equal(result.status, 0, result.stderr);
      assert.match(result.stdout, new RegExp(`^Usage: desktracks ${command}`));
    }
    assert.match(run(['--help']).stdout, /Commands:\n {2}record/);
  });

  await t.test('a wrong command line exits with 2 and says what is wrong', () => {
    const cases = [
      [['record', '--bogus'], /Unknown option '--bogus'/],
      [['record', '--area', '0,0,100'], /--area takes four whole numbers/],
      [['record', '--area', '100,0,50,50'], /right must exceed left/],
      [['record', '--seconds', 'soon'], /--seconds must be a positive number, not "soon"/],
      [['record', '--fps', '0'], /--fps must be a positive whole number/],
      [['record', '--mic', 'no such microphone'], /no microphone is named like "no such microphone"/],
      [['record', '--mic', '99'], /no microphone has index 99/],
      [['record', '--webcam', 'front'], /--webcam takes a camera index/],
      [['record', '--constant-rate', '--every-pass'], /--constant-rate and --every-pass exclude each other/],
      [['record', '--display', 'left'], /--display takes a display index/],
      [['inspect'], /inspect takes exactly one recording folder/],
      [['inspect', '/nonexistent-folder'], /is not a folder/],
      [['film'], /unknown command "film"/],
      [[], /Usage: desktracks <command>/],
    ];
    for (const [args, message] of cases) {
      const result = run(args);
      assert.equal(result.status, 2, `${args.join(' ')}: ${result.stderr}`);
      assert.match(result.stderr + result.stdout, message, args.join(' '));
    }
  });

  await t.test('devices lists the microphones and displays with their indexes, and says whether cameras can be listed', () => {
    const result = run(['devices']);
    assert.equal(result.status, 0, result.stderr);
    assert.match(result.stdout, /Microphones \(--mic\):\n(?: +\d+ {2}.+\n)*? +\d+ {2}VirtualMic\n/);
    assert.match(result.stdout, /Cameras \(--webcam\):\n {2}\S/);
    assert.match(result.stdout, /Displays \(--display\):\n +0 {2}\S+ {2}\d+x\d+ at 0,0 {2}scale 1 {2}primary\n/);
    const json = JSON.parse(run(['devices', '--json']).stdout);
    assert.ok(json.mics.some((m) => m.name === 'VirtualMic'));
    assert.equal(json.displays.filter((d) => d.primary).length, 1);
  });
});

/** Starts `desktracks record` into a fresh folder; stdout and stderr gather as it runs, whole once `exit` resolves. */
function spawnRecord(args) {
  const dir = path.join(tempDir(), 'take');
  const child = spawn(process.execPath, [bin, 'record', dir, ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
  const take = { dir, child, stdout: '', stderr: '', exit: new Promise((resolve) => child.on('close', resolve)) };
  child.stdout.on('data', (d) => { take.stdout += d; });
  child.stderr.on('data', (d) => { take.stderr += d; });
  return take;
}

/** Records with the flags given, a tone in the microphone, and mouse moves and a click. */
async function recordScene(args) {
  const stopTone = playTone('micsrc', 440, 16000, 1);
  xdotool('mousemove', 100, 100);
  const take = spawnRecord(args);
  const moves = setInterval(() => {
    const i = Math.floor(Math.random() * 400);
    xdotool('mousemove', 100 + i, 120 + (i % 300));
  }, 120);
  setTimeout(() => xdotool('click', 1), 1200);
  take.code = await take.exit;
  clearInterval(moves);
  stopTone();
  return take;
}

test('record writes a screen sample only when the screen changed, unless --every-pass', async () => {
  assert.match(run(['record', '--help']).stdout, /--every-pass +one sample per capture pass/);
  const counts = {};
  for (const args of [[], ['--every-pass']]) {
    const take = spawnRecord(['--seconds', '2', '--no-mic', '--no-system-audio', ...args]);
    assert.equal(await take.exit, 0, take.stderr);
    counts[args.join('') || 'default'] = readJson(take.dir, 'tracks.json').tracks[0].count;
  }
  // A still desktop: one picture, against one per pass.
  assert.ok(counts.default <= 3, `${counts.default} samples of a still desktop`);
  assert.ok(counts['--every-pass'] > 20, `${counts['--every-pass']} samples with --every-pass`);
});

test('record and inspect', async (t) => {
  const take = await recordScene(['--seconds', '3', '--area', '0,0,640,480', '--mic', 'virtual', '--no-system-audio',
    '--fps', '20', '--constant-rate', '--bitrate', '2000000']);

  await t.test('record --seconds with every kind of flag writes the tracks asked for', () => {
    assert.equal(take.code, 0, take.stderr);
    const meta = readJson(take.dir, 'meta.json');
    assert.deepEqual([meta.width, meta.height, meta.fps, meta.systemAudioIndex, meta.rx], [640, 480, 20, -1, [0, 0, 640, 480]]);
    assert.ok(fs.existsSync(path.join(take.dir, 'mivox.wav')));
    assert.equal(fs.existsSync(path.join(take.dir, 'output.wav')), false);
    assert.match(take.stdout, new RegExp(`written to ${take.dir}:\\nfile +track +status`));
    assert.match(take.stdout, /\noutput\.mp4 +screen +ok +h264 640x480 +[23]\.\d\d s/);
    // --constant-rate: 20 samples a second, each 50 ms.
    const screen = readJson(take.dir, 'tracks.json').tracks[0];
    assert.equal(screen.duration, screen.count * 50);
  });

  await t.test('without a terminal, progress is a plain line every few seconds on standard error', () => {
    assert.match(take.stderr, /^recording into .* for 3 s\n/);
    assert.match(take.stderr, /\nrecording 00:0[2-3]\.\d, screen \d+ samples \(\d+\/s\), mic \d+ frames peak -?\d+ dB, input \d+ events\n/);
    assert.doesNotMatch(take.stderr, /\r|\x1b\[/);
  });

  await t.test('inspect prints one table, exits with 0 and draws overview.png', async () => {
    const result = run(['inspect', take.dir, '--json']);
    assert.equal(result.status, 0, result.stderr);
    const inspection = JSON.parse(result.stdout);
    assert.deepEqual(inspection.rows.filter((r) => r.status !== 'ok'), []);
    assert.deepEqual(inspection.rows.map((r) => r.file),
      ['meta.json', 'tracks.json', 'output.mp4', 'mivox.wav', 'positions.json', 'clicks.json', 'cursor_info.json',
        'cursors/index.json', 'recorder.log']);
    const table = run(['inspect', take.dir, '--no-picture']);
    assert.equal(table.status, 0);
    assert.match(table.stdout, /^file +track +status +format +duration +start +size +detail\n/);
    assert.match(table.stdout, /\nmivox\.wav +microphone +ok +PCM 16-bit 1 ch 16000 Hz +[23]\.\d\d s +[+-]0\.\d{3} s/);
    // tracks.json dates the microphone: its start is no estimate.
    const micStart = readJson(take.dir, 'tracks.json').tracks.find((e) => e.kind === 'microphone').start;
    assert.equal(inspection.rows.find((r) => r.file === 'mivox.wav').startMs, micStart - readJson(take.dir, 'meta.json').time);

    const { loadImage, createCanvas } = require('@napi-rs/canvas');
    const overview = inspection.overview;
    const image = await loadImage(fs.readFileSync(overview.file));
    assert.deepEqual([image.width, image.height], [overview.width, overview.height]);
    const g = createCanvas(image.width, image.height).getContext('2d');
    g.drawImage(image, 0, 0);
    // How many of the points are drawn in a colour that `is` accepts.
    // A point counts when a pixel of its 3x3 neighbourhood does: a 2.5-pixel line seldom covers
    // the one pixel a rounded middle falls in fully.
    const near = (x, y, is) => [-1, 0, 1].some((dx) => [-1, 0, 1].some((dy) =>
      is(...g.getImageData(Math.round(x) + dx, Math.round(y) + dy, 1, 1).data)));
    const drawn = (points, is) => points.filter(([x, y]) => near(x, y, is)).length;

    // The tone: most columns of the microphone row have a bar far above and below its middle.
    const mic = overview.regions.microphone;
    const columns = Array.from({ length: 40 }, (_, i) => [mic.x + (mic.width * (i + 0.5)) / 40, mic.y + mic.height * 0.4]);
    const loud = drawn(columns, (r, gr, b) => gr > 150 && r < 200 && b < 200);
    assert.ok(loud > 40 * 0.6, `tone drawn in ${loud} of 40 columns`);

    // The trail: the middle of most recorded moves is drawn in the trail's colours.
    const moves = readJson(take.dir, 'positions.json');
    const trail = overview.regions.trail;
    const middles = moves.slice(1).map((m, i) => [trail.x + ((moves[i].x + m.x) / 2 / 640) * trail.width,
      trail.y + ((moves[i].y + m.y) / 2 / 480) * trail.height]);
    const onTrail = drawn(middles, (r, gr, b) => Math.max(r, b) > 150 && gr < 170);
    assert.ok(moves.length >= 5 && onTrail >= middles.length * 0.7,
      `${onTrail} of ${middles.length} moves drawn; moves ${JSON.stringify(moves.map((m) => [m.x, m.y, m.type]))}; ${overview.file}`);
  });

  await t.test('inspect names a broken file and exits with 1', () => {
    const damage = {
      'output.mp4': (file) => fs.truncateSync(file, Math.floor(fs.statSync(file).size / 2)),
      'mivox.wav': (file) => {
        const b = fs.readFileSync(file);
        b.writeUInt16LE(2, 22); // two channels
        fs.writeFileSync(file, b);
      },
      'clicks.json': (file) => fs.writeFileSync(file, '[{"time": 1,'),
    };
    for (const [name, spoil] of Object.entries(damage)) {
      const copy = tempDir();
      fs.cpSync(take.dir, copy, { recursive: true });
      spoil(path.join(copy, name));
      const result = run(['inspect', copy, '--no-picture']);
      assert.equal(result.status, 1, name);
      assert.match(result.stdout, new RegExp(`\\n${name.replace('.', '\\.')} +\\w+ +broken `), name);
      assert.match(result.stderr, new RegExp(`desktracks: ${name.replace('.', '\\.')} is broken: .+`), name);
      assert.equal(result.stdout.split('\n').filter((l) => / broken /.test(l)).length, 1, `${name} alone is broken`);
    }
  });
});

/** Starts `desktracks record` and resolves once it has said that it is recording. */
async function startRecording(args) {
  const take = spawnRecord(args);
  while (!/recording into/.test(take.stderr) && take.child.exitCode === null) await new Promise((resolve) => setTimeout(resolve, 20));
  return take;
}

test('Ctrl-C ends the recording with every file complete; a second one says it is finishing', async () => {
  const take = await startRecording([]);
  await new Promise((resolve) => setTimeout(resolve, 1000));
  take.child.kill('SIGINT');
  // The second one once the first is being handled; finishing can take less than a poll of the
  // pipe on a quiet machine, and a finished command has nothing left to say.
  while (!/SIGINT: stopping/.test(take.stderr) && take.child.exitCode === null) await new Promise((resolve) => setImmediate(resolve));
  const finishedFirst = /written to/.test(take.stdout) || take.child.exitCode !== null;
  take.child.kill('SIGINT');
  assert.equal(await take.exit, 0, take.stderr);
  assert.match(take.stderr, /SIGINT: stopping\n/);
  if (!finishedFirst) assert.match(take.stderr, /still finishing the files so that nothing is lost; please wait/);
  const inspected = run(['inspect', /written to (.+):/.exec(take.stdout)[1], '--no-picture']);
  assert.equal(inspected.status, 0, inspected.stdout);
  assert.match(inspected.stdout, /\noutput\.mp4 +screen +ok +h264 1920x1080 +[01]\.\d\d s/);
});

test('SIGTERM ends the recording the same way', async () => {
  const take = await startRecording(['--no-mic', '--no-system-audio']);
  await new Promise((resolve) => setTimeout(resolve, 500));
  take.child.kill('SIGTERM');
  assert.equal(await take.exit, 0, take.stderr);
  assert.match(take.stderr, /SIGTERM: stopping\n/);
});

test('in a terminal, space pauses every track and space again goes on; Ctrl-C is a key there', async () => {
  const dir = path.join(tempDir(), 'take');
  // script(1) gives the command a terminal and passes what is written to it as typed keys.
  const child = spawn('script', ['-qfec', `${process.execPath} ${bin} record ${dir} --no-mic --no-system-audio`, '/dev/null'],
    { stdio: ['pipe', 'pipe', 'pipe'] });
  let out = '';
  child.stdout.on('data', (d) => { out += d; });
  const exit = new Promise((resolve) => child.on('close', resolve));
  const until = async (pattern) => {
    for (let i = 0; i < 500 && !pattern.test(out) && child.exitCode === null; i++) await new Promise((resolve) => setTimeout(resolve, 20));
    assert.match(out, pattern);
  };
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
  await until(/space to pause/);
  await sleep(800);
  child.stdin.write(' ');
  await until(/paused; space to go on/);
  await until(/❚❚ PAUSED/);
  await sleep(1000);
  child.stdin.write(' ');
  await until(/recording again/);
  await sleep(800);
  child.stdin.write('\x03');
  assert.equal(await exit, 0, out);
  assert.match(out, /SIGINT: stopping/);
  const { pauses, tracks } = readJson(dir, 'tracks.json');
  assert.equal(pauses.length, 1);
  assert.ok(pauses[0].end - pauses[0].start >= 1000, JSON.stringify(pauses));
  assert.equal(tracks[0].status, 'recorded');
});
