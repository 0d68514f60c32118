'use strict';
// Records a session into a folder: resolves the options people type (a microphone by index or
// name, an area as "l,t,r,b"), runs the recording, reports live status and stops on request.
const fs = require('fs');
const path = require('path');
const { Worker } = require('worker_threads');
const { Recorder, getStatus, listMicDetails } = require('./index');
const { inspectRecording } = require('./inspect');
const { UsageError } = require('./usage-error');

function positiveInteger(name, value) {
  const n = Number(value);
  if (!Number.isInteger(n) || n <= 0 || n > 2147483647) throw new UsageError(`${name} must be a positive whole number, not "${value}"`);
  return n;
}

function parseArea(text) {
  const parts = String(text).split(',').map((p) => p.trim());
  const numbers = parts.map(Number);
  if (parts.length !== 4 || numbers.some((n) => !Number.isInteger(n) || n < 0)) {
    throw new UsageError(`--area takes four whole numbers left,top,right,bottom (e.g. 0,0,1280,720), not "${text}"`);
  }
  if (numbers[2] <= numbers[0] || numbers[3] <= numbers[1]) {
    throw new UsageError(`--area ${text}: right must exceed left and bottom must exceed top`);
  }
  return numbers;
}

// The first capture device that is not an output's monitor nor a placeholder (ALSA's null device,
// plugins naming no sound card): what a person calls "the microphone".
function defaultMic(mics) {
  return mics.find((m) => !/^monitor of /i.test(m.name) && !m.placeholder) || null;
}

// Why the default found no microphone, when that is worth a line.
function noDefaultMicNote(mics) {
  if (!mics || mics.length === 0 || mics.every((m) => m.soundServer !== false)) return null;
  return 'no microphone recorded: no sound server could be reached (PulseAudio or PipeWire) and the audio system ' +
    'lists no sound card\'s capture device (only placeholders such as ALSA\'s null device); pick one with --mic to record it anyway';
}

function resolveMic(choice, mics) {
  if (choice === false) return -1;
  if (!mics) {
    if (choice === undefined) return -1;
    throw new UsageError('the audio system cannot list microphones, so --mic cannot be used');
  }
  if (choice === undefined) {
    const mic = defaultMic(mics);
    return mic ? mic.index : -1;
  }
  if (/^\d+$/.test(String(choice))) {
    const index = Number(choice);
    if (!mics.some((m) => m.index === index)) throw new UsageError(`no microphone has index ${index}; see "desktracks devices"`);
    return index;
  }
  const matches = mics.filter((m) => m.name.toLowerCase().includes(String(choice).toLowerCase()));
  const exact = matches.find((m) => m.name.toLowerCase() === String(choice).toLowerCase());
  if (exact) return exact.index;
  if (matches.length === 1) return matches[0].index;
  if (matches.length === 0) throw new UsageError(`no microphone is named like "${choice}"; see "desktracks devices"`);
  throw new UsageError(`"${choice}" matches several microphones (${matches.map((m) => `${m.index}: ${m.name}`).join('; ')}); give its index`);
}

/**
 * Turns command-line style options into `Recorder.start` options. Throws UsageError for values
 * that cannot work. `mic`: index, name (or part of it), false for none, undefined for the default;
 * `listMics()` gives getMics()'s list (or null), asked only when a microphone is to be chosen.
 */
function resolveRecordOptions(options, listMics) {
  const dir = path.resolve(options.dir || path.join('recordings', new Date().toISOString().replace(/[:.]/g, '-').replace(/-\d+Z$/, '')));
  const start = {
    projectDir: dir,
    systemAudioIndex: options.systemAudio === false ? -1 : 0,
    webcamIndex: options.webcam === undefined ? -1 : Number(options.webcam),
  };
  if (options.webcam !== undefined && (!/^\d+$/.test(String(options.webcam)))) {
    throw new UsageError(`--webcam takes a camera index (see "desktracks devices"), not "${options.webcam}"`);
  }
  if (options.area !== undefined) start.area = parseArea(options.area);
  if (options.display !== undefined) {
    if (!/^\d+$/.test(String(options.display)) || Number(options.display) > 255) {
      throw new UsageError(`--display takes a display index (see "desktracks devices"), not "${options.display}"`);
    }
    start.display = Number(options.display);
  }
  if (options.fps !== undefined) start.fps = positiveInteger('--fps', options.fps);
  if (options.bitrate !== undefined) start.bitrate = positiveInteger('--bitrate', options.bitrate);
  if (options.constantRate) start.constantFrameRate = true;
  let seconds;
  if (options.seconds !== undefined) {
    seconds = Number(options.seconds);
    if (!(seconds > 0) || !Number.isFinite(seconds)) throw new UsageError(`--seconds must be a positive number, not "${options.seconds}"`);
  }
  const notes = [];
  if (options.mic === false) {
    start.micIndex = -1;
  } else {
    const mics = listMics();
    start.micIndex = resolveMic(options.mic, mics);
    const note = options.mic === undefined && start.micIndex === -1 ? noDefaultMicNote(mics) : null;
    if (note) notes.push(note);
  }
  return { start, seconds, notes };
}

/**
 * Records until `seconds` have passed or `stop()` is called on the returned handle.
 * `onStatus(status)` is called every `statusEveryMs` with getStatus()'s snapshot until the
 * recording stops; `onStopping()` once when it starts to stop.
 * Returns { stop, finished } where finished resolves to { dir, status, inspection } once every
 * file is complete (and rejects when the recording cannot start).
 */
function record(options, { onStatus, onStopping, statusEveryMs = 250 } = {}) {
  const listMics = () => {
    try {
      return typeof listMicDetails === 'function' ? listMicDetails() : new Recorder().getMics();
    } catch {
      return null;
    }
  };
  const { start, seconds, notes } = resolveRecordOptions(options, listMics);
  fs.mkdirSync(start.projectDir, { recursive: true });

  const worker = new Worker(path.join(__dirname, 'record-worker.js'), { workerData: start });
  let stopRequested = false;
  let started = false;
  let timer = null;
  let ticker = null;
  const stop = () => {
    if (stopRequested) return;
    stopRequested = true;
    clearTimeout(timer);
    clearInterval(ticker);
    if (onStopping) onStopping();
    if (started) worker.postMessage('end');
  };
  const finished = new Promise((resolve, reject) => {
    worker.on('message', (message) => {
      if (message.error) {
        reject(new Error(message.error));
      } else if (message.started) {
        started = true;
        if (onStatus) ticker = setInterval(() => onStatus(getStatus()), statusEveryMs);
        if (seconds !== undefined) timer = setTimeout(stop, seconds * 1000);
        if (stopRequested) worker.postMessage('end');
      } else if (message.ended) {
        const status = getStatus();
        resolve({ dir: start.projectDir, options: start, status, inspection: inspectRecording(start.projectDir) });
      }
    });
    worker.on('error', (err) => {
      clearInterval(ticker);
      reject(err);
    });
  });
  return { stop, finished, options: start, notes };
}

module.exports = { record, resolveRecordOptions, parseArea, UsageError };
