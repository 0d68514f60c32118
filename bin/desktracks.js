#!/usr/bin/env node
'use strict';
// The desktracks command: parses the command line, calls lib/, prints. Results go to standard
// output, progress and diagnostics to standard error. Exit codes: 0 done, 1 the run failed,
// 2 the command line was wrong.
const { parseArgs } = require('util');
const path = require('path');

const usage = {
  main: `Usage: desktracks <command> [options]

Records the desktop as separate tracks: screen, webcam, microphone, system audio and mouse input.

Commands:
  record [dir]     record until Ctrl-C (or --seconds) into dir
  devices          list the microphones, cameras and displays with their indexes
  inspect <dir>    check every file of a recording and draw <dir>/overview.png
  recover <dir>    finish a recording whose process was killed or crashed

Run "desktracks <command> --help" for a command's options.`,
  record: `Usage: desktracks record [dir] [options]

Records into dir (default: recordings/<date-time>) until Ctrl-C, SIGTERM or --seconds.
In a terminal, space pauses every track and space again goes on; the files leave the pauses out.
A live line shows the recorded time, screen samples per second, a level meter per audio track and
the input events; without a terminal a plain line is printed every few seconds instead.

Options:
  --seconds <s>          stop after this many seconds
  --display <index>      record this display (see "desktracks devices"; default: the
                         first graphics adapter's first output)
  --area <l,t,r,b>       record only this rectangle of the display (right and bottom exclusive)
  --mic <index|name>     microphone by its index or (part of) its name (default: the first
                         device that is not a monitor of an output)
  --no-mic               no microphone track
  --no-system-audio      no system-audio track
  --webcam <index>       record this camera too (see "desktracks devices")
  --webcam-format <f>    the camera's format: best (default: the largest frame up to
                         1920x1080 at 24 fps or more), first (the first it lists) or
                         WIDTHxHEIGHT@FPS (the nearest it offers)
  --fps <n>              frame rate of output.mp4 (default 30)
  --constant-rate        exactly <fps> samples a second (for editors that mishandle a
                         variable frame rate)
  --every-pass           one sample per capture pass, changed or not (the add-on's own
                         default); default here: a sample only when the screen changed
  --bitrate <bits/s>     bit rate of output.mp4 (default 18000000)
  -h, --help             this help`,
  devices: `Usage: desktracks devices [--json]

Lists the microphones (for --mic), the cameras (for --webcam) and the displays (for --display)
with their indexes.

Options:
  --json       print the lists as JSON
  -h, --help   this help`,
  inspect: `Usage: desktracks inspect <dir> [options]

Checks every file of the recording in dir (present, parses, format, duration, where it starts on
the screen video's clock), prints one table and writes dir/overview.png: screen thumbnails,
both waveforms and the input on one time axis, and the cursor trail over a screen frame.
Exits with 1 when a track is broken or missing.

Options:
  --no-picture   do not write overview.png
  --json         print the result as JSON instead of a table
  -h, --help     this help`,
  recover: `Usage: desktracks recover <dir> [--json]

Finishes the recording in dir after its process died: output.mp4 and webcam.mp4 become ordinary
MP4 files, the WAV headers are mended, positions.json, clicks.json, cursor_info.json and
meta.json are rebuilt from journal.jsonl. Prints what it did per file; a finished recording is
left unchanged. Exits with 1 when a file could not be recovered.

Options:
  --json       print the result as JSON
  -h, --help   this help`,
};

const { UsageError } = require('../lib/usage-error');

const optionSpecs = {
  record: {
    seconds: { type: 'string' }, area: { type: 'string' }, mic: { type: 'string' }, 'no-mic': { type: 'boolean' },
    'no-system-audio': { type: 'boolean' }, webcam: { type: 'string' }, display: { type: 'string' }, fps: { type: 'string' }, bitrate: { type: 'string' },
    'constant-rate': { type: 'boolean' }, 'every-pass': { type: 'boolean' }, 'webcam-format': { type: 'string' },
    help: { type: 'boolean', short: 'h' },
  },
  devices: { json: { type: 'boolean' }, help: { type: 'boolean', short: 'h' } },
  inspect: { 'no-picture': { type: 'boolean' }, json: { type: 'boolean' }, help: { type: 'boolean', short: 'h' } },
  recover: { json: { type: 'boolean' }, help: { type: 'boolean', short: 'h' } },
};

function parse(command, args) {
  try {
    return parseArgs({ args, options: optionSpecs[command], allowPositionals: true, strict: true });
  } catch (err) {
    throw new UsageError(err.message);
  }
}

function printDevices(values) {
  const { listDevices } = require('../lib/devices');
  const devices = listDevices();
  if (values.json) {
    console.log(JSON.stringify(devices, null, 2));
    return devices.mics ? 0 : 1;
  }
  console.log('Microphones (--mic):');
  if (devices.mics) {
    for (const m of devices.mics) console.log(`  ${String(m.index).padStart(2)}  ${m.name}`);
    if (!devices.mics.length) console.log('  (none)');
  } else {
    console.log(`  cannot be listed: ${devices.micError}`);
  }
  console.log('Cameras (--webcam):');
  if (devices.cameras) {
    for (const c of devices.cameras) console.log(`  ${String(c.index).padStart(2)}  ${c.name}`);
    if (!devices.cameras.length) console.log('  (none)');
  } else {
    console.log(`  ${devices.cameraError}`);
  }
  console.log('Displays (--display):');
  if (devices.displays) {
    for (const d of devices.displays) {
      const size = `${d.right - d.left}x${d.bottom - d.top} at ${d.left},${d.top}`;
      console.log(`  ${String(d.index).padStart(2)}  ${d.name}  ${size}  scale ${d.scale}${d.primary ? '  primary' : ''}`);
    }
    if (!devices.displays.length) console.log('  (none)');
  } else {
    console.log(`  cannot be listed: ${devices.displayError}`);
  }
  return devices.mics ? 0 : 1;
}

function inspect(values, positionals) {
  if (positionals.length !== 1) throw new UsageError('inspect takes exactly one recording folder');
  const fs = require('fs');
  const dir = path.resolve(positionals[0]);
  if (!fs.existsSync(dir) || !fs.statSync(dir).isDirectory()) throw new UsageError(`${dir} is not a folder`);
  const { inspectRecording, formatInspection } = require('../lib/inspect');
  const result = inspectRecording(dir);
  let picture = null;
  if (!values['no-picture']) {
    try {
      picture = require('../lib/overview').writeOverview(result);
    } catch (err) {
      process.stderr.write(`desktracks: overview.png not written: ${err.message}\n`);
    }
  }
  if (values.json) {
    console.log(JSON.stringify({ ...result, inputRecords: undefined, overview: picture }, null, 2));
  } else {
    console.log(formatInspection(result));
    if (picture) console.log(`overview: ${picture.file}`);
    for (const r of result.rows.filter((row) => row.status !== 'ok')) process.stderr.write(`desktracks: ${r.file} is ${r.status}: ${r.detail}\n`);
  }
  return result.ok ? 0 : 1;
}

function recoverCommand(values, positionals) {
  if (positionals.length !== 1) throw new UsageError('recover takes exactly one recording folder');
  const fs = require('fs');
  const dir = path.resolve(positionals[0]);
  if (!fs.existsSync(dir) || !fs.statSync(dir).isDirectory()) throw new UsageError(`${dir} is not a folder`);
  const { recover, formatRecovery } = require('../lib/recover');
  const entries = recover(dir);
  console.log(values.json ? JSON.stringify(entries, null, 2) : formatRecovery(entries));
  return entries.every((e) => e.status !== 'failed') ? 0 : 1;
}

async function recordCommand(values, positionals) {
  if (positionals.length > 1) throw new UsageError('record takes at most one folder');
  const { record } = require('../lib/record');
  const { liveLine, plainLine } = require('../lib/progress');
  const { formatInspection } = require('../lib/inspect');
  const live = process.stderr.isTTY;
  const plainEveryMs = 2000;
  let lastPlain = 0;
  let signals = 0;
  const handle = record({
    dir: positionals[0], seconds: values.seconds, area: values.area, mic: values['no-mic'] ? false : values.mic,
    systemAudio: !values['no-system-audio'], webcam: values.webcam, webcamFormat: values['webcam-format'], display: values.display,
    fps: values.fps, bitrate: values.bitrate, constantRate: values['constant-rate'], everyPass: values['every-pass'],
  }, {
    statusEveryMs: live ? 250 : 500,
    onStatus: (status) => {
      if (live) {
        const width = (process.stderr.columns || 100) - 1;
        process.stderr.write(`\r${liveLine(status, handle.options).slice(0, width)}\x1b[K`);
      } else if (status.elapsedMs - lastPlain >= plainEveryMs) {
        lastPlain = status.elapsedMs;
        process.stderr.write(`${plainLine(status, handle.options)}\n`);
      }
    },
    onStopping: () => process.stderr.write(`${live && !signals ? '\n' : ''}finishing the files...\n`),
    onEvent: (kind, event) => {
      if (kind === 'failure' || kind === 'lost' || kind === 'outage') {
        process.stderr.write(`${live ? '\n' : ''}desktracks: ${event.track} ${kind}: ${event.message}\n`);
      }
    },
  });
  const keys = process.stdin.isTTY && typeof process.stdin.setRawMode === 'function';
  process.stderr.write(`recording into ${handle.options.projectDir}` +
    (values.seconds ? ` for ${values.seconds} s` : '; Ctrl-C to stop') + (keys ? ', space to pause' : '') + '\n');
  for (const note of handle.notes) process.stderr.write(`desktracks: ${note}\n`);

  const onSignal = (name) => {
    signals += 1;
    if (signals === 1) {
      process.stderr.write(`${live ? '\n' : ''}${name}: stopping\n`);
      handle.stop();
    } else {
      process.stderr.write('still finishing the files so that nothing is lost; please wait\n');
    }
  };
  process.on('SIGINT', () => onSignal('SIGINT'));
  process.on('SIGTERM', () => onSignal('SIGTERM'));
  // Keys in a terminal: space pauses and resumes; the raw terminal sends Ctrl-C as a key.
  const onKey = (data) => {
    for (const key of data.toString('latin1')) {
      if (key === '\u0003') {
        onSignal('SIGINT');
      } else if (key === ' ' && !signals) {
        const paused = handle.pause() || !handle.resume();
        process.stderr.write(`${live ? '\n' : ''}${paused ? 'paused; space to go on' : 'recording again'}\n`);
      }
    }
  };
  if (keys) {
    process.stdin.setRawMode(true);
    process.stdin.on('data', onKey);
  }

  let result;
  try {
    result = await handle.finished;
  } finally {
    if (keys) {
      process.stdin.off('data', onKey);
      process.stdin.setRawMode(false);
      process.stdin.pause();
    }
  }
  console.log(`written to ${result.dir}:`);
  console.log(formatInspection(result.inspection));
  for (const f of result.status.failures) process.stderr.write(`desktracks: ${f.track} stopped: ${f.message}\n`);
  process.removeAllListeners('SIGINT');
  process.removeAllListeners('SIGTERM');
  return result.status.failures.length === 0 && result.inspection.ok ? 0 : 1;
}

async function main(argv) {
  const [command, ...rest] = argv;
  if (command === undefined || command === '-h' || command === '--help' || command === 'help') {
    const topic = command === 'help' && usage[rest[0]] ? rest[0] : 'main';
    console.log(usage[topic]);
    return command === undefined ? 2 : 0;
  }
  if (command === '--version' || command === '-v') {
    console.log(require('../package.json').version);
    return 0;
  }
  if (!optionSpecs[command]) throw new UsageError(`unknown command "${command}"`);
  const { values, positionals } = parse(command, rest);
  if (values.help) {
    console.log(usage[command]);
    return 0;
  }
  if (command === 'devices') return printDevices(values);
  if (command === 'inspect') return inspect(values, positionals);
  if (command === 'recover') return recoverCommand(values, positionals);
  return recordCommand(values, positionals);
}

main(process.argv.slice(2)).then(
  (code) => { process.exitCode = code; },
  (err) => {
    if (err instanceof UsageError) {
      process.stderr.write(`desktracks: ${err.message}\nRun "desktracks --help" for usage.\n`);
      process.exitCode = 2;
    } else {
      process.stderr.write(`desktracks: ${err.message}\n`);
      process.exitCode = 1;
    }
  }
);
