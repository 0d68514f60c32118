'use strict';
// Checks every file of a recording: present, parses, in the expected format, how long, and where
// it starts on the screen video's clock (meta.json "time"). Used by `desktracks inspect` and
// after `desktracks record`; an app can call it too.
const fs = require('fs');
const path = require('path');
const { readWav } = require('./wav-file');

const mediaTracks = [
  { file: 'output.mp4', track: 'screen', kind: 'video', required: () => true },
  { file: 'webcam.mp4', track: 'webcam', kind: 'video', required: (meta) => meta.webcamIndex !== undefined && meta.webcamIndex !== -1 },
  { file: 'mivox.wav', track: 'microphone', kind: 'audio', required: (meta) => meta.micIndex !== -1 },
  { file: 'output.wav', track: 'systemAudio', kind: 'audio', required: (meta) => meta.systemAudioIndex !== -1 },
];
const inputFiles = [
  { file: 'positions.json', track: 'input' },
  { file: 'clicks.json', track: 'input' },
];

function readJson(file) {
  const text = fs.readFileSync(file, 'utf8');
  try {
    return JSON.parse(text);
  } catch (err) {
    throw new Error(`JSON does not parse: ${err.message}`);
  }
}

function checkInputRecords(list) {
  if (!Array.isArray(list)) throw new Error('expected a JSON array of records');
  list.forEach((r, i) => {
    if (!r || typeof r !== 'object' || !['time', 'x', 'y', 'type', 'button'].every((k) => Number.isFinite(r[k]))) {
      throw new Error(`record ${i} lacks time, x, y, type or button`);
    }
  });
  return list;
}

// tracks.json's entry for a media file, when the recording has one with a start (a failed track
// has none). Input records carry their own times.
function timelineEntry(timeline, file) {
  const entries = timeline && Array.isArray(timeline.tracks) ? timeline.tracks : [];
  return entries.find((e) => e && e.file === file && e.kind !== 'input' && Number.isFinite(e.start));
}

/**
 * Inspects the recording in `dir`. Never throws for a damaged recording: each problem is a row
 * with status "broken" or "missing". Returns { dir, ok, meta, rows, inputRecords }.
 * `readVideo(file)` gives a video's facts ({ codec, width, height, durationMs, samples }).
 */
function inspectRecording(dir, { readVideo } = {}) {
  readVideo = readVideo || ((file) => require('./video-frames').readVideoFacts(file));
  const rows = [];
  const add = (row) => rows.push({ status: 'ok', format: '', durationMs: null, startMs: null, estimatedStart: false, detail: '', ...row });
  const at = (name) => path.join(dir, name);
  const size = (name) => (fs.existsSync(at(name)) ? fs.statSync(at(name)).size : null);

  let meta = null;
  try {
    meta = readJson(at('meta.json'));
    if (!Number.isFinite(meta.time) || !Number.isFinite(meta.width) || !Number.isFinite(meta.height)) {
      throw new Error('lacks time, width or height');
    }
    add({ file: 'meta.json', track: 'description', format: `${meta.width}x${meta.height} @ ${meta.fps} fps`, size: size('meta.json') });
  } catch (err) {
    add({ file: 'meta.json', track: 'description', status: fs.existsSync(at('meta.json')) ? 'broken' : 'missing',
      detail: fs.existsSync(at('meta.json')) ? err.message : 'not written: the recording did not end cleanly', size: size('meta.json') });
    meta = null;
  }
  const facts = meta || { micIndex: -1, systemAudioIndex: -1 };
  let timeline = null;
  if (fs.existsSync(at('tracks.json'))) {
    try {
      timeline = readJson(at('tracks.json'));
      if (!timeline || !Array.isArray(timeline.tracks)) throw new Error('expected an object with a "tracks" array');
      const failed = timeline.tracks.filter((e) => e && e.status === 'failed');
      add({ file: 'tracks.json', track: 'timeline', format: 'JSON', size: size('tracks.json'),
        detail: `${timeline.tracks.length} tracks${failed.length ? `, failed: ${failed.map((e) => `${e.kind} (${e.reason})`).join(', ')}` : ''}` });
    } catch (err) {
      add({ file: 'tracks.json', track: 'timeline', status: 'broken', detail: err.message, size: size('tracks.json') });
    }
  }

  for (const spec of mediaTracks) {
    const exists = fs.existsSync(at(spec.file));
    if (!exists) {
      if (spec.required(facts)) add({ file: spec.file, track: spec.track, status: 'missing', detail: 'the track was asked for but no file exists' });
      continue;
    }
    const row = { file: spec.file, track: spec.track, size: size(spec.file) };
    try {
      if (spec.kind === 'video') {
        const v = readVideo(at(spec.file));
        Object.assign(row, { format: `${v.codec} ${v.width}x${v.height}`, durationMs: v.durationMs, detail: `${v.samples} samples` });
        if (spec.track === 'screen' && meta && (v.width !== (meta.width & ~1) || v.height !== (meta.height & ~1))) {
          row.status = 'broken';
          row.detail = `video is ${v.width}x${v.height} but meta.json says ${meta.width}x${meta.height}`;
        }
      } else {
        const w = readWav(at(spec.file));
        Object.assign(row, { format: `PCM ${w.bitsPerSample}-bit ${w.channels} ch ${w.sampleRate} Hz`, durationMs: w.durationMs, detail: `${w.frames} frames` });
      }
    } catch (err) {
      Object.assign(row, { status: 'broken', detail: err.message });
    }
    add(row);
  }

  const inputRecords = {};
  for (const spec of inputFiles) {
    if (!fs.existsSync(at(spec.file))) {
      if (meta) add({ file: spec.file, track: spec.track, status: 'missing' });
      continue;
    }
    try {
      const list = checkInputRecords(readJson(at(spec.file)));
      inputRecords[spec.file] = list;
      const row = { file: spec.file, track: spec.track, format: 'JSON', detail: `${list.length} records`, size: size(spec.file) };
      if (list.length && meta) {
        row.startMs = list[0].time - meta.time;
        row.durationMs = list[list.length - 1].time - list[0].time;
      }
      add(row);
    } catch (err) {
      add({ file: spec.file, track: spec.track, status: 'broken', detail: err.message, size: size(spec.file) });
    }
  }
  if (fs.existsSync(at('cursor_info.json'))) {
    try {
      const info = readJson(at('cursor_info.json'));
      if (!info || typeof info !== 'object' || Array.isArray(info)) throw new Error('expected a JSON object of cursors');
      add({ file: 'cursor_info.json', track: 'cursors', format: 'JSON', detail: `${Object.keys(info).length} cursors`, size: size('cursor_info.json') });
    } catch (err) {
      add({ file: 'cursor_info.json', track: 'cursors', status: 'broken', detail: err.message, size: size('cursor_info.json') });
    }
  } else if (meta) {
    add({ file: 'cursor_info.json', track: 'cursors', status: 'missing' });
  }
  const cursorImages = inspectCursorImages(dir, add);
  if (fs.existsSync(at('recorder.log'))) {
    const lines = fs.readFileSync(at('recorder.log'), 'utf8').split('\n').filter(Boolean);
    const errors = lines.filter((l) => /\] \[error\] /.test(l)).length;
    add({ file: 'recorder.log', track: 'log', format: 'text', detail: `${lines.length} lines, ${errors} errors`, size: size('recorder.log') });
  }

  placeOnTimeline(rows, meta, timeline);
  const ok = rows.every((r) => r.status === 'ok');
  return { dir, ok, meta, rows, inputRecords, cursorImages };
}

// cursors/index.json and cursors/timeline.json: every image listed has its PNG, every change names
// a listed image (or null: hidden). Returns both lists, or null when the recording has none.
function inspectCursorImages(dir, add) {
  const folder = path.join(dir, 'cursors');
  const file = 'cursors/index.json';
  if (!fs.existsSync(path.join(folder, 'index.json'))) return null;
  const sizeOf = (name) => fs.statSync(path.join(folder, name)).size;
  try {
    const { images } = readJson(path.join(folder, 'index.json'));
    const timeline = readJson(path.join(folder, 'timeline.json'));
    if (!Array.isArray(images) || !Array.isArray(timeline)) throw new Error('expected an "images" array and a timeline array');
    const missing = images.filter((image) => !fs.existsSync(path.join(folder, image.file)));
    if (missing.length) throw new Error(`${missing.length} listed images have no PNG (${missing[0].file})`);
    const ids = new Set(images.map((image) => image.id));
    const unknown = timeline.filter((entry) => entry.id !== null && !ids.has(entry.id));
    if (unknown.length) throw new Error(`the timeline names ${unknown.length} images the index does not list`);
    const named = images.filter((image) => image.standardName).map((image) => image.standardName);
    const bytes = images.reduce((sum, image) => sum + sizeOf(image.file), sizeOf('index.json'));
    add({ file, track: 'cursors', format: 'PNG + JSON', size: bytes,
      detail: `${images.length} images (${named.length ? named.join(', ') : 'none standard'}), ${timeline.length} changes` });
    return { folder, images, timeline };
  } catch (err) {
    add({ file, track: 'cursors', status: 'broken', detail: err.message, size: sizeOf('index.json') });
    return null;
  }
}

// Start offsets in ms on the screen video's clock. The timeline file says where each track
// starts; without it every track is taken to end when the screen video ends (end() stops them
// together), which is an estimate.
function placeOnTimeline(rows, meta, timeline) {
  if (!meta) return;
  const screen = rows.find((r) => r.track === 'screen' && r.status === 'ok');
  for (const row of rows) {
    if (row.durationMs === null || row.status !== 'ok') continue;
    const entry = timelineEntry(timeline, row.file);
    if (entry) {
      row.startMs = entry.start - meta.time;
    } else if (row.track === 'screen') {
      row.startMs = 0;
    } else if (row.startMs === null && screen) {
      row.startMs = screen.durationMs - row.durationMs;
      row.estimatedStart = true;
    }
  }
}

function seconds(ms) {
  return ms === null || ms === undefined ? '' : `${(ms / 1000).toFixed(2)} s`;
}

/** The result as a table of fixed-width columns, one line per file. */
function formatInspection(result) {
  const header = ['file', 'track', 'status', 'format', 'duration', 'start', 'size', 'detail'];
  const lines = result.rows.map((r) => [
    r.file, r.track, r.status, r.format, seconds(r.durationMs),
    r.startMs === null ? '' : `${r.estimatedStart ? '~' : ''}${r.startMs >= 0 ? '+' : ''}${(r.startMs / 1000).toFixed(3)} s`,
    r.size === null || r.size === undefined ? '' : `${r.size}`, r.detail,
  ]);
  const widths = header.map((h, i) => Math.max(h.length, ...lines.map((l) => l[i].length)));
  const fmt = (cols) => cols.map((c, i) => (i === cols.length - 1 ? c : c.padEnd(widths[i]))).join('  ').trimEnd();
  return [fmt(header), ...lines.map(fmt)].join('\n');
}

module.exports = { inspectRecording, formatInspection };
