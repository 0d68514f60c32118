'use strict';
// The desktracks command end to end on the test services: usage errors, a recording with every
// kind of flag, progress without a terminal, Ctrl-C, and inspect on a good recording (table and
// overview.png) and on damaged ones.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawn, spawnSync, execFileSync } = require('child_process');
const { tempDir, repoRoot } = require('./helpers/project');
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

  await t.test('devices lists the microphones with their indexes, and says whether cameras can be listed', () => {
    const result = run(['devices']);
    assert.equal(result.status, 0, result.stderr);
    assert.match(result.stdout, /Microphones \(--mic\):\n(?: +\d+ {2}.+\n)*? +\d+ {2}VirtualMic\n/);
    assert.match(result.stdout, /Cameras \(--webcam\):\n {2}\S/);
    const json = JSON.parse(run(['devices', '--json']).stdout);
    assert.ok(json.mics.some((m) => m.name === 'VirtualMic'));
  });
});

/** Records with the flags given, a tone in the microphone, and mouse moves and a click. */
function recordScene(args) {
  const dir = path.join(tempDir(), 'take');
  const stopTone = playTone('micsrc', 440, 16000, 1);
  xdotool('mousemove', 100, 100);
  const child = spawn(process.execPath, [bin, 'record', dir, ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
  let stdout = '';
  let stderr = '';
  child.stdout.on('data', (d) => { stdout += d; });
  child.stderr.on('data', (d) => { stderr += d; });
  return new Promise((resolve) => {
    const moves = setInterval(() => {
      const i = Math.floor(Math.random() * 400);
      xdotool('mousemove', 100 + i, 120 + (i % 300));
    }, 120);
    setTimeout(() => xdotool('click', 1), 1200);
    child.on('exit', (code, signal) => {
      clearInterval(moves);
      stopTone();
      resolve({ dir, code, signal, stdout, stderr, child });
    });
  });
}

test('record and inspect', async (t) => {
  const take = await recordScene(['--seconds', '3', '--area', '0,0,640,480', '--mic', 'virtual', '--no-system-audio',
    '--fps', '20', '--constant-rate', '--bitrate', '2000000']);

  await t.test('record --seconds with every kind of flag writes the tracks asked for', () => {
    assert.equal(take.code, 0, take.stderr);
    const meta = JSON.parse(fs.readFileSync(path.join(take.dir, 'meta.json'), 'utf8'));
    assert.deepEqual([meta.width, meta.height, meta.fps, meta.systemAudioIndex, meta.rx], [640, 480, 20, -1, [0, 0, 640, 480]]);
    assert.ok(fs.existsSync(path.join(take.dir, 'mivox.wav')));
    assert.equal(fs.existsSync(path.join(take.dir, 'output.wav')), false);
    assert.match(take.stdout, new RegExp(`written to ${take.dir}:\\nfile +track +status`));
    assert.match(take.stdout, /\noutput\.mp4 +screen +ok +h264 640x480 +[23]\.\d\d s/);
    // --constant-rate: 20 samples a second, each 50 ms.
    const screen = JSON.parse(fs.readFileSync(path.join(take.dir, 'tracks.json'), 'utf8')).tracks[0];
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
      ['meta.json', 'tracks.json', 'output.mp4', 'mivox.wav', 'positions.json', 'clicks.json', 'cursor_info.json', 'recorder.log']);
    const table = run(['inspect', take.dir, '--no-picture']);
    assert.equal(table.status, 0);
    assert.match(table.stdout, /^file +track +status +format +duration +start +size +detail\n/);
    assert.match(table.stdout, /\nmivox\.wav +microphone +ok +PCM 16-bit 1 ch 16000 Hz +[23]\.\d\d s +[+-]0\.\d{3} s/);
    // tracks.json dates the microphone: its start is no estimate.
    const tracks = JSON.parse(fs.readFileSync(path.join(take.dir, 'tracks.json'), 'utf8')).tracks;
    const micRow = inspection.rows.find((r) => r.file === 'mivox.wav');
    assert.equal(micRow.startMs, tracks.find((e) => e.kind === 'microphone').start - JSON.parse(fs.readFileSync(path.join(take.dir, 'meta.json'))).time);

    const { loadImage, createCanvas } = require('@napi-rs/canvas');
    const overview = inspection.overview;
    const image = await loadImage(fs.readFileSync(overview.file));
    assert.deepEqual([image.width, image.height], [overview.width, overview.height]);
    const canvas = createCanvas(image.width, image.height);
    const g = canvas.getContext('2d');
    g.drawImage(image, 0, 0);
    const pixel = (x, y) => Array.from(g.getImageData(Math.round(x), Math.round(y), 1, 1).data.slice(0, 3));

    // The tone: most columns of the microphone row have a bar far above and below its middle.
    const mic = overview.regions.microphone;
    const screenMs = inspection.rows.find((r) => r.file === 'output.mp4').durationMs;
    let loud = 0;
    const columns = 40;
    for (let i = 0; i < columns; i++) {
      const x = mic.x + (mic.width * (i + 0.5)) / columns;
      const [r, gr, b] = pixel(x, mic.y + mic.height * 0.4);
      if (gr > 150 && r < 200 && b < 200) loud += 1;
    }
    assert.ok(loud > columns * 0.6, `tone drawn in ${loud} of ${columns} columns (${screenMs} ms of screen)`);

    // The trail: the middle of most recorded moves is drawn in the trail's colours.
    const moves = JSON.parse(fs.readFileSync(path.join(take.dir, 'positions.json'), 'utf8'));
    const trail = overview.regions.trail;
    let drawn = 0;
    for (let i = 1; i < moves.length; i++) {
      const x = trail.x + (((moves[i - 1].x + moves[i].x) / 2) / 640) * trail.width;
      const y = trail.y + (((moves[i - 1].y + moves[i].y) / 2) / 480) * trail.height;
      const [r, gr, b] = pixel(x, y);
      if (Math.max(r, b) > 150 && gr < 170) drawn += 1;
    }
    assert.ok(moves.length >= 5 && drawn >= (moves.length - 1) * 0.7, `${drawn} of ${moves.length - 1} moves drawn`);
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
      for (const f of fs.readdirSync(take.dir)) fs.copyFileSync(path.join(take.dir, f), path.join(copy, f));
      spoil(path.join(copy, name));
      const result = run(['inspect', copy, '--no-picture']);
      assert.equal(result.status, 1, name);
      assert.match(result.stdout, new RegExp(`\\n${name.replace('.', '\\.')} +\\w+ +broken `), name);
      assert.match(result.stderr, new RegExp(`desktracks: ${name.replace('.', '\\.')} is broken: .+`), name);
      assert.equal(result.stdout.split('\n').filter((l) => / broken /.test(l)).length, 1, `${name} alone is broken`);
    }
  });
});

test('Ctrl-C ends the recording with every file complete; a second one says it is finishing', async () => {
  const child = spawn(process.execPath, [bin, 'record', path.join(tempDir(), 'take')], { stdio: ['ignore', 'pipe', 'pipe'] });
  let stderr = '';
  let stdout = '';
  child.stdout.on('data', (d) => { stdout += d; });
  const begun = new Promise((resolve) => child.stderr.on('data', (d) => {
    stderr += d;
    if (/recording into/.test(stderr)) resolve();
  }));
  await begun;
  await new Promise((resolve) => setTimeout(resolve, 1000));
  child.kill('SIGINT');
  await new Promise((resolve) => setTimeout(resolve, 20));
  child.kill('SIGINT');
  const code = await new Promise((resolve) => child.on('exit', resolve));
  assert.equal(code, 0, stderr);
  assert.match(stderr, /SIGINT: stopping\n/);
  assert.match(stderr, /still finishing the files so that nothing is lost; please wait/);
  const dir = /written to (.+):/.exec(stdout)[1];
  const inspected = run(['inspect', dir, '--no-picture']);
  assert.equal(inspected.status, 0, inspected.stdout);
  assert.match(inspected.stdout, /\noutput\.mp4 +screen +ok +h264 1920x1080 +[01]\.\d\d s/);
});

test('SIGTERM ends the recording the same way', async () => {
  const child = spawn(process.execPath, [bin, 'record', path.join(tempDir(), 'take'), '--no-mic', '--no-system-audio'],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  let stderr = '';
  await new Promise((resolve) => child.stderr.on('data', (d) => {
    stderr += d;
    if (/recording into/.test(stderr)) resolve();
  }));
  await new Promise((resolve) => setTimeout(resolve, 500));
  child.kill('SIGTERM');
  assert.equal(await new Promise((resolve) => child.on('exit', resolve)), 0, stderr);
  assert.match(stderr, /SIGTERM: stopping\n/);
});
