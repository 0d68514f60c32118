'use strict';
// Recordings that end badly: a killed process (then recover), an environment torn down with the
// recording running, and recover on a recording that finished normally. Every check reads the
// files with ffprobe and the WAV reader, as a user's editor would.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const crypto = require('crypto');
const { spawn, execFileSync } = require('child_process');
const { Recorder, recover } = require('../..');
const { readWav } = require('../../lib/wav-file');
const { repoRoot, tempDir, runNode } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');

// A set of its own: PulseAudio 16 has been seen to abort (a memblock assertion) when a client is
// SIGKILLed mid-transfer, and that must not take the other files' audio down with it.
useTestServices({ fresh: true });

const allTracks = { micIndex: 0, systemAudioIndex: 0 };
const wavs = ['mivox.wav', 'output.wav'];
const jsonFiles = ['positions.json', 'clicks.json', 'cursor_info.json', 'meta.json'];

/** ffprobe's streams and packet times (100 ns) of a video file. */
function probeVideo(file) {
  const out = JSON.parse(execFileSync('ffprobe', ['-v', 'error', '-show_entries', 'stream=codec_type,codec_name:packet=pts,duration',
    '-of', 'json', file], { encoding: 'utf8', maxBuffer: 1 << 28 }));
  const packets = out.packets || [];
  const last = packets[packets.length - 1];
  return { streams: out.streams, pts: packets.map((p) => Number(p.pts)), seconds: last ? (Number(last.pts) + Number(last.duration)) / 1e7 : 0 };
}

function topLevelBoxes(file) {
  const buf = fs.readFileSync(file);
  const boxes = [];
  for (let at = 0; at + 8 <= buf.length;) {
    const size = buf.readUInt32BE(at);
    boxes.push(buf.toString('ascii', at + 4, at + 8));
    if (size < 8) break;
    at += size;
  }
  return boxes;
}

// Every file below `dir` (the cursor images' folder included) by its path and content hash.
const hashes = (dir) => Object.fromEntries(fs.readdirSync(dir, { recursive: true }).sort()
  .filter((name) => fs.statSync(path.join(dir, name)).isFile())
  .map((name) => [name, crypto.createHash('sha1').update(fs.readFileSync(path.join(dir, name))).digest('hex')]));

/** Starts a recording in a child node, SIGKILLs it `afterMs` after start() returned. */
function recordAndKill(projectDir, afterMs) {
  const script = `const { Recorder } = require(${JSON.stringify(repoRoot)});
    globalThis.recorder = new Recorder(); recorder.start(${JSON.stringify({ projectDir, ...allTracks })});
    process.stdout.write('started\\n'); setInterval(() => {}, 1000);`;
  const child = spawn(process.execPath, ['-e', script], { stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    child.stdout.once('data', () => setTimeout(() => {
      const killedAt = Date.now();
      child.kill('SIGKILL');
      child.once('exit', () => resolve(killedAt));
    }, afterMs));
    child.once('error', reject);
  });
}

test('kill: SIGKILL at random moments, then recover', async (t) => {
  for (let round = 0; round < 3; round += 1) {
    const afterMs = 2000 + Math.floor(Math.random() * 2500);
    await t.test(`killed ${afterMs} ms after start`, async () => {
      const dir = tempDir();
      const killedAt = await recordAndKill(dir, afterMs);
      assert.equal(fs.existsSync(path.join(dir, 'meta.json')), false, 'the process had no chance to finish');

      // Without recover, the video and the WAVs already play up to the last second.
      const journal = fs.readFileSync(path.join(dir, 'journal.jsonl'), 'utf8');
      const firstFrame = journal.split('\n').filter(Boolean).map((l) => { try { return JSON.parse(l); } catch { return {}; } })
        .filter((e) => e.kind === 'meta' && e.time > 0)[0];
      assert.ok(firstFrame, 'the journal holds the first screen frame time');
      const recorded = (killedAt - firstFrame.time) / 1000;
      const killed = probeVideo(path.join(dir, 'output.mp4'));
      assert.ok(topLevelBoxes(path.join(dir, 'output.mp4')).includes('moof'));
      assert.ok(killed.seconds >= recorded - 1.0, `video ${killed.seconds} s of ${recorded} s`);
      for (const wav of wavs) {
        const before = readWav(path.join(dir, wav));  // throws unless the header matches the data up to it
        // The audio devices start a little after the screen's first frame.
        assert.ok(before.durationMs / 1000 >= recorded - 1.5, `${wav}: ${before.durationMs} ms of ${recorded} s`);
      }

      const report = recover(dir);
      assert.deepEqual(report.filter((e) => e.status === 'failed'), []);
      const video = probeVideo(path.join(dir, 'output.mp4'));
      assert.deepEqual(video.streams, [{ codec_name: 'h264', codec_type: 'video' }]);
      assert.equal(topLevelBoxes(path.join(dir, 'output.mp4')).includes('moof'), false);
      assert.deepEqual(video.pts, killed.pts, 'the sample times are the ones written');
      for (const wav of wavs) assert.ok(readWav(path.join(dir, wav)).durationMs / 1000 >= recorded - 1.5);
      for (const name of jsonFiles) JSON.parse(fs.readFileSync(path.join(dir, name), 'utf8'));
      assert.equal(JSON.parse(fs.readFileSync(path.join(dir, 'meta.json'), 'utf8')).time, firstFrame.time);
      assert.equal(fs.existsSync(path.join(dir, 'journal.jsonl')), false);
      // The cursor images' index and timeline come back from the journal; their images were on disk.
      const { images } = JSON.parse(fs.readFileSync(path.join(dir, 'cursors', 'index.json'), 'utf8'));
      const timeline = JSON.parse(fs.readFileSync(path.join(dir, 'cursors', 'timeline.json'), 'utf8'));
      assert.ok(images.length >= 1 && timeline.length >= 1);
      for (const image of images) assert.ok(fs.existsSync(path.join(dir, 'cursors', image.file)));

      // A second run, here through the command, finds nothing to do.
      const before = hashes(dir);
      const out = execFileSync(process.execPath, [path.join(repoRoot, 'bin', 'desktracks.js'), 'recover', dir], { encoding: 'utf8' });
      assert.match(out, /^output\.mp4 +unchanged/m);
      assert.deepEqual(hashes(dir), before);
    });
  }
});

test('environment teardown ends the recording as end() would', async (t) => {
  const endings = {
    'process.exit()': 'setTimeout(() => process.exit(0), 2000);',
    'an uncaught exception': 'setTimeout(() => { throw new Error("boom"); }, 2000);',
    'a terminated worker': `const { Worker } = require('worker_threads');
      const worker = new Worker(\`const { Recorder } = require(${JSON.stringify(repoRoot)});
        globalThis.recorder = new Recorder(); recorder.start(\${JSON.stringify(options)}); require('worker_threads').parentPort.postMessage('started');
        setInterval(() => {}, 1000);\`, { eval: true });
      worker.once('message', () => setTimeout(() => worker.terminate(), 2000));`,
  };
  for (const [name, ending] of Object.entries(endings)) {
    await t.test(name, () => {
      const projectDir = tempDir();
      const options = { projectDir, ...allTracks };
      const starts = name.includes('worker') ? '' : 'globalThis.recorder = new Recorder(); recorder.start(options);';
      const result = runNode(`const options = ${JSON.stringify(options)}; ${starts} ${ending}`);
      assert.equal(result.signal, null, result.stderr);
      assert.match(result.stdout, /meta\.json"\n$/, 'end() printed the meta.json path');
      assert.equal(fs.existsSync(path.join(projectDir, 'journal.jsonl')), false);
      for (const file of jsonFiles) JSON.parse(fs.readFileSync(path.join(projectDir, file), 'utf8'));
      assert.deepEqual(topLevelBoxes(path.join(projectDir, 'output.mp4')).filter((b) => b === 'moof' || b === 'moov'), ['moov']);
      assert.ok(probeVideo(path.join(projectDir, 'output.mp4')).seconds > 1);
      for (const wav of wavs) assert.ok(readWav(path.join(projectDir, wav)).durationMs > 1000);
      assert.match(fs.readFileSync(path.join(projectDir, 'recorder.log'), 'utf8'), /write end/);
    });
  }
});

/** Mounts a small tmpfs on a fresh folder for the test; null when that is not allowed. */
function smallDisk(t, size) {
  const dir = tempDir();
  try {
    execFileSync('mount', ['-t', 'tmpfs', '-o', `size=${size}`, 'tmpfs', dir], { stdio: 'ignore' });
  } catch {
    t.skip('mounting a tmpfs needs root');
    return null;
  }
  t.after(() => execFileSync('umount', [dir]));
  return dir;
}

// The disk fills during the recording (a file takes most of it); it stays full to the end, or that
// file is deleted once the screen track has failed, so that end() has room for its own files.
for (const freed of [false, true]) {
  test(`disk full${freed ? ', room again before end()' : ''}: every file valid up to the failure, one error line per file`, (t) => {
    const projectDir = smallDisk(t, '1m');
    if (!projectDir) return;
    const filler = path.join(projectDir, 'filler');
    fs.writeFileSync(filler, Buffer.alloc(800 * 1024));
    const result = runNode(`const { getStatus } = require(${JSON.stringify(repoRoot)});
      globalThis.recorder = new Recorder(); recorder.start(${JSON.stringify({ projectDir, ...allTracks })});
      const started = Date.now();
      let screenFailedAfter = null;
      const poll = setInterval(() => {
        if (screenFailedAfter === null && getStatus().failures.some((f) => f.track === 'screen')) {
          screenFailedAfter = (Date.now() - started) / 1000;
        }
        // Still full, the WAVs meet the failure at their next write, within half a second.
        const waited = screenFailedAfter === null ? 8 : screenFailedAfter + (${freed} ? 0 : 1);
        if (Date.now() - started < waited * 1000) return;
        clearInterval(poll);
        if (${freed}) require('fs').unlinkSync(${JSON.stringify(filler)});
        recorder.end();
        console.log(JSON.stringify({ failures: getStatus().failures, screenFailedAfter }));
      }, 50);`);
    assert.equal(result.status, 0, result.stderr);
    const lines = result.stdout.trim().split('\n');
    const { failures, screenFailedAfter } = JSON.parse(lines.pop());
    const messages = failures.map((f) => f.message);
    if (!fs.existsSync(path.join(projectDir, 'meta.json'))) assert.deepEqual(lines, [], 'no meta.json path for a meta.json not written');
    for (const wav of wavs) {
      // With room again a WAV may go on; otherwise it stops at the failure.
      const line = `${wav} could not be written to the end (No space left on device)`;
      if (!freed) assert.ok(messages.some((m) => m.includes(line)), messages.join('\n'));
      assert.ok(readWav(path.join(projectDir, wav)).durationMs > 500);
    }
    for (const name of [...jsonFiles, 'tracks.json']) {
      const file = path.join(projectDir, name);
      if (fs.existsSync(file)) JSON.parse(fs.readFileSync(file, 'utf8'));  // complete or absent
    }
    // The video: its own line, and it plays to within its last fragment (about a second) of the
    // failure.
    const videoLine = 'screenRecorder: output.mp4 could not be written to the end (No space left on device); it holds the video up to the failure';
    assert.deepEqual(failures.filter((f) => f.track === 'screen').map((f) => f.message), [videoLine]);
    const video = path.join(projectDir, 'output.mp4');
    const { streams, seconds } = probeVideo(video);
    assert.deepEqual(streams, [{ codec_type: 'video', codec_name: 'h264' }]);
    t.diagnostic(`video ${seconds} s, the screen track failed after ${screenFailedAfter} s`);
    assert.ok(seconds > screenFailedAfter - 2 && seconds < screenFailedAfter, `video ${seconds} s, failed after ${screenFailedAfter} s`);
    const log = fs.readFileSync(path.join(projectDir, 'recorder.log'), 'utf8');
    assert.equal(log.split(videoLine).length, 2, 'one line for the video');
    // The track ends at the failure, while the disk is full: the index fits in what is left of the
    // file's last page or it does not, and then the file stays as written, which is said.
    const boxes = topLevelBoxes(video).filter((b) => b === 'moof' || b === 'moov');
    if (boxes.includes('moof')) {
      assert.match(log, /\[warning\] screenRecorder: output\.mp4 could not be made an ordinary MP4 \(cannot write the index: No space left on device\)/);
    } else {
      assert.deepEqual(boxes, ['moov']);
    }
    if (freed) {
      const tracks = JSON.parse(fs.readFileSync(path.join(projectDir, 'tracks.json'), 'utf8')).tracks;
      assert.deepEqual(tracks.find((e) => e.kind === 'screen').reason, videoLine);
      assert.equal(tracks.find((e) => e.kind === 'screen').status, 'failed');
    }
  });
}

test('recover on a finished recording changes nothing', () => {
  const projectDir = tempDir();
  const recorder = new Recorder();
  recorder.start({ projectDir, ...allTracks });
  execFileSync('sleep', ['1.5']);
  recorder.end();
  const before = hashes(projectDir);
  const report = recover(projectDir);
  assert.deepEqual(report.map((e) => [e.file, e.status]),
    [['output.mp4', 'unchanged'], ...wavs.map((w) => [w, 'unchanged']), ...jsonFiles.map((j) => [j, 'unchanged'])]);
  assert.deepEqual(hashes(projectDir), before);
});

test('paths with a NUL character are refused', () => {
  const dir = tempDir();
  assert.throws(() => new Recorder().start({ projectDir: `${dir}\0evil` }),
    { name: 'TypeError', message: 'projectDir must not contain a NUL character' });
  assert.deepEqual(fs.readdirSync(dir), []);
  assert.throws(() => recover(`${dir}\0x`), { name: 'TypeError' });
  assert.throws(() => recover(path.join(dir, 'missing')), /is not a directory/);
});
