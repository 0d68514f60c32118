'use strict';
// Records a session into a folder: resolves the options people type (a microphone by index or
// name, an area as "l,t,r,b"), runs the recording, reports live status and stops on request.
const fs = require('fs');
const path = require('path');
const { Recorder, getStatus, listMicDetails } = require('./recorder');
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

/** "first", "best" (the default for the command line) or WIDTHxHEIGHT@FPS. */
function parseWebcamFormat(text) {
  if (text === undefined || text === 'best') return 'best';
  if (text === 'first') return 'first';
  const match = /^(\d+)x(\d+)@(\d+(?:\.\d+)?)$/.exec(String(text));
  if (!match || [1, 2, 3].some((i) => !(Number(match[i]) > 0))) {
    throw new UsageError(`--webcam-format takes first, best or WIDTHxHEIGHT@FPS (1280x720@30), not "${text}"`);
  }
  return { width: Number(match[1]), height: Number(match[2]), fps: Number(match[3]) };
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
  if (start.webcamIndex !== -1) start.webcamFormat = parseWebcamFormat(options.webcamFormat);
  if (options.area !== undefined) start.area = parseArea(options.area);
  if (options.display !== undefined) {
    if (!/^\d+$/.test(String(options.display)) || Number(options.display) > 255) {
      throw new UsageError(`--display takes a display index (see "desktracks devices"), not "${options.display}"`);
    }
    start.display = Number(options.display);
  }
  if (options.fps !== undefined) start.fps = positiveInteger('--fps', options.fps);
  if (options.bitrate !== undefined) start.bitrate = positiveInteger('--bitrate', options.bitrate);
  if (options.constantRate && options.everyPass) throw new UsageError('--constant-rate and --every-pass exclude each other');
  // A sample only when the screen changed, unless a grid or every pass was asked for.
  if (options.constantRate) start.constantFrameRate = true;
  else if (!options.everyPass) start.changesOnly = true;
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

const trackEventKinds = ['failure', 'lost', 'back', 'outage', 'warning'];

/**
 * Records until `seconds` have passed or `stop()` is called on the returned handle.
 * `onStatus(status)` is called every `statusEveryMs` with getStatus()'s snapshot until the
 * recording stops; `onStopping()` once when it starts to stop; `onEvent(kind, event)` for every
 * failure, loss, return, outage and warning of a track as it happens.
 * Returns { stop, pause, resume, finished, options, notes, recorder } where finished resolves to
 * { dir, options, status, inspection } once every file is complete (and rejects when the
 * recording cannot start). The files are finished off this thread, so it stays responsive.
 */
function record(options, { onStatus, onStopping, onEvent, statusEveryMs = 250 } = {}) {
  const listMics = () => {
    try {
      return typeof listMicDetails === 'function' ? listMicDetails() : new Recorder().getMics();
    } catch {
      return null;
    }
  };
  const { start, seconds, notes } = resolveRecordOptions(options, listMics);
  fs.mkdirSync(start.projectDir, { recursive: true });

  const recorder = new Recorder();
  if (onEvent) for (const kind of trackEventKinds) recorder.on(kind, (event) => onEvent(kind, event));
  let stopRequested = false;
  let timer = null;
  let ticker = null;
  // The recording runs on native threads only: this keeps the process up until it is stopped.
  let keepAlive = null;
  let settle = null;
  const finished = new Promise((resolve, reject) => {
    settle = { resolve, reject };
  });
  const stop = () => {
    if (stopRequested) return;
    stopRequested = true;
    clearTimeout(timer);
    clearInterval(ticker);
    if (onStopping) onStopping();
    recorder.stop().then(() => {
      clearInterval(keepAlive);
      settle.resolve({ dir: start.projectDir, options: start, status: getStatus(), inspection: inspectRecording(start.projectDir) });
    }, (err) => {
      clearInterval(keepAlive);
      settle.reject(err);
    });
  };
  try {
    recorder.start(start);
    keepAlive = setInterval(() => {}, 1 << 30);
    if (onStatus) ticker = setInterval(() => onStatus(getStatus()), statusEveryMs);
    if (seconds !== undefined) timer = setTimeout(stop, seconds * 1000);
  } catch (err) {
    stopRequested = true;
    settle.reject(err);
  }
  return {
    stop,
    pause: () => !stopRequested && recorder.pause(),
    resume: () => !stopRequested && recorder.resume(),
    finished,
    options: start,
    notes,
    recorder,
  };
}

module.exports = { record, resolveRecordOptions, parseArea, UsageError };
