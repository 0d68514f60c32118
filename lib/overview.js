'use strict';
// Draws <dir>/overview.png for an inspected recording: a strip of screen thumbnails on a time
// axis, both waveforms and the input events on the same axis with a marker where each track
// starts, and the cursor trail with its clicks over a frame of the screen video.
const fs = require('fs');
const path = require('path');
const { createCanvas, ImageData, Image } = require('@napi-rs/canvas');
const { readWav } = require('./wav-file');
const { readVideoFrames } = require('./video-frames');

const width = 1600;
const margin = 20;
const labelWidth = 130;
const plotLeft = margin + labelWidth;
const plotWidth = width - plotLeft - margin;
const rowGap = 8;
const sizes = { header: 56, thumbnails: 110, wave: 90, input: 36, axis: 26, trailTitle: 30, trail: 620 };

const colours = {
  background: '#14161a', panel: '#1d2026', text: '#e8e8e8', muted: '#9aa0a8', grid: '#2c3038',
  screen: '#5aa9ff', webcam: '#c792ea', microphone: '#7fd67f', systemAudio: '#ffb454', input: '#ff6b6b',
};

function trackColour(track) {
  return colours[track] || colours.text;
}

function drawWaveform(g, samples, area, durationMs, toX, startMs, colour) {
  g.fillStyle = colour;
  const mid = area.y + area.height / 2;
  const msPerFrame = 1000 / 16000;
  const x0 = Math.max(area.x, Math.floor(toX(startMs)));
  const x1 = Math.min(area.x + area.width, Math.ceil(toX(startMs + durationMs)));
  for (let x = x0; x < x1; x++) {
    const from = Math.max(0, Math.floor((toXInverse(toX, x) - startMs) / msPerFrame));
    const to = Math.min(samples.length, Math.floor((toXInverse(toX, x + 1) - startMs) / msPerFrame));
    let low = 0;
    let high = 0;
    for (let i = from; i < to; i++) {
      if (samples[i] < low) low = samples[i];
      if (samples[i] > high) high = samples[i];
    }
    const top = mid - (high / 32768) * (area.height / 2);
    const bottom = mid - (low / 32768) * (area.height / 2);
    g.fillRect(x, top, 1, Math.max(1, bottom - top));
  }
}

function toXInverse(toX, x) {
  return toX.inverse(x);
}

function drawFrame(g, frame, x, y, w, h) {
  const image = new ImageData(new Uint8ClampedArray(frame.data.buffer, frame.data.byteOffset, frame.data.length), frame.width, frame.height);
  const tmp = createCanvas(frame.width, frame.height);
  tmp.getContext('2d').putImageData(image, 0, 0);
  g.drawImage(tmp, x, y, w, h);
}

/**
 * Writes the picture for `inspection` (from inspectRecording) to <dir>/overview.png and returns
 * { file, width, height, regions }, regions being where each part was drawn ({ x, y, width, height }).
 */
function writeOverview(inspection, { file = path.join(inspection.dir, 'overview.png') } = {}) {
  const { dir, meta, rows, inputRecords } = inspection;
  const ok = (track) => rows.find((r) => r.track === track && r.status === 'ok' && r.durationMs !== null);
  const screen = ok('screen');
  const placed = rows.filter((r) => r.status === 'ok' && r.startMs !== null && r.durationMs !== null && r.track !== 'input');
  const inputTimes = [...(inputRecords['positions.json'] || []), ...(inputRecords['clicks.json'] || [])].map((r) => r.time - (meta ? meta.time : 0));
  const starts = [0, ...placed.map((r) => r.startMs), ...inputTimes.slice(0, 1)];
  const ends = [1000, ...placed.map((r) => r.startMs + r.durationMs), ...inputTimes];
  const axisStart = Math.min(...starts);
  const axisEnd = Math.max(...ends);
  const span = Math.max(1, axisEnd - axisStart);
  const toX = (ms) => plotLeft + ((ms - axisStart) / span) * plotWidth;
  toX.inverse = (x) => axisStart + ((x - plotLeft) / plotWidth) * span;

  const regions = {};
  let y = sizes.header;
  const row = (name, height) => {
    regions[name] = { x: plotLeft, y, width: plotWidth, height };
    y += height + rowGap;
    return regions[name];
  };
  row('thumbnails', sizes.thumbnails);
  row('microphone', sizes.wave);
  row('systemAudio', sizes.wave);
  row('input', sizes.input);
  const axisY = y;
  y += sizes.axis + sizes.trailTitle;
  const trailHeight = sizes.trail;
  const aspect = screen && meta ? meta.width / meta.height : 16 / 9;
  const trailWidth = Math.min(plotWidth, Math.round(trailHeight * aspect));
  regions.trail = { x: plotLeft, y, width: trailWidth, height: Math.round(trailWidth / aspect) };
  const height = y + regions.trail.height + margin;

  const canvas = createCanvas(width, height);
  const g = canvas.getContext('2d');
  g.fillStyle = colours.background;
  g.fillRect(0, 0, width, height);
  g.textBaseline = 'middle';

  g.fillStyle = colours.text;
  g.font = 'bold 20px sans-serif';
  g.fillText(path.basename(path.resolve(dir)), margin, 22);
  g.font = '13px sans-serif';
  g.fillStyle = colours.muted;
  const when = meta ? new Date(meta.time).toISOString().replace('T', ' ').replace(/\.\d+Z$/, ' UTC') : 'no meta.json';
  const broken = rows.filter((r) => r.status !== 'ok').map((r) => `${r.file} ${r.status}`);
  g.fillText(`${when}   screen ${meta ? `${meta.width}x${meta.height}` : '?'}   time axis from the first screen frame (0 s)` +
    (broken.length ? `   problems: ${broken.join(', ')}` : ''), margin, 44);

  for (const [name, label] of [['thumbnails', 'screen'], ['microphone', 'mivox.wav'], ['systemAudio', 'output.wav'], ['input', 'input']]) {
    const r = regions[name];
    g.fillStyle = colours.panel;
    g.fillRect(r.x, r.y, r.width, r.height);
    g.fillStyle = trackColour(name === 'thumbnails' ? 'screen' : name);
    g.font = '14px sans-serif';
    g.fillText(label, margin, r.y + r.height / 2);
  }

  // Screen thumbnails, each placed at its own time.
  let frameForTrail = null;
  if (screen) {
    const count = Math.max(1, Math.floor(plotWidth / 200));
    const thumbHeight = regions.thumbnails.height - 10;
    const thumbWidth = Math.round(thumbHeight * aspect);
    const times = Array.from({ length: count }, (_, i) => (screen.durationMs * (i + 0.5)) / count);
    try {
      const video = readVideoFrames(path.join(dir, 'output.mp4'), [...times, screen.durationMs / 2], Math.min(meta ? meta.width : 1920, 1280));
      video.frames.slice(0, count).forEach((frame, i) => {
        const cx = toX(times[i]);
        const x = Math.min(Math.max(cx - thumbWidth / 2, plotLeft), plotLeft + plotWidth - thumbWidth);
        drawFrame(g, frame, x, regions.thumbnails.y + 5, thumbWidth, thumbHeight);
        g.fillStyle = colours.screen;
        g.fillRect(cx - 1, regions.thumbnails.y + regions.thumbnails.height - 4, 2, 4);
      });
      frameForTrail = video.frames[count];
    } catch (err) {
      g.fillStyle = colours.muted;
      g.fillText(`output.mp4: ${err.message}`, plotLeft + 10, regions.thumbnails.y + regions.thumbnails.height / 2);
    }
    g.fillStyle = 'rgba(90,169,255,0.5)';
    g.fillRect(toX(0), regions.thumbnails.y, Math.max(1, toX(screen.durationMs) - toX(0)), 3);
  }

  // Waveforms on the same axis.
  for (const [name, fileName] of [['microphone', 'mivox.wav'], ['systemAudio', 'output.wav']]) {
    const r = regions[name];
    const track = ok(name);
    g.strokeStyle = colours.grid;
    g.beginPath();
    g.moveTo(r.x, r.y + r.height / 2);
    g.lineTo(r.x + r.width, r.y + r.height / 2);
    g.stroke();
    if (!track) {
      g.fillStyle = colours.muted;
      g.fillText('not recorded', r.x + 10, r.y + r.height / 2);
      continue;
    }
    const wav = readWav(path.join(dir, fileName), { withSamples: true });
    drawWaveform(g, wav.samples, r, track.durationMs, toX, track.startMs, trackColour(name));
  }

  // Input events: moves as short ticks, presses as tall red ticks.
  const ir = regions.input;
  if (meta) {
    g.fillStyle = 'rgba(255,107,107,0.55)';
    for (const r of inputRecords['positions.json'] || []) g.fillRect(toX(r.time - meta.time), ir.y + ir.height * 0.55, 1, ir.height * 0.4);
    g.fillStyle = colours.input;
    for (const r of inputRecords['clicks.json'] || []) {
      if (r.type === 0) g.fillRect(toX(r.time - meta.time) - 1, ir.y + 3, 3, ir.height - 6);
    }
  }

  // Time axis.
  g.fillStyle = colours.muted;
  g.strokeStyle = colours.grid;
  g.font = '12px sans-serif';
  const step = [100, 250, 500, 1000, 2000, 5000, 10000, 30000, 60000, 300000].find((s) => span / s <= 14) || 600000;
  for (let t = Math.ceil(axisStart / step) * step; t <= axisEnd; t += step) {
    const x = toX(t);
    g.beginPath();
    g.moveTo(x, regions.thumbnails.y);
    g.lineTo(x, axisY + 4);
    g.stroke();
    g.fillText(`${(t / 1000).toFixed(step < 1000 ? 2 : 0)} s`, x - 12, axisY + 14);
  }

  // A marker where each track starts.
  const markers = placed.map((r) => ({ track: r.track, at: r.startMs, estimated: r.estimatedStart }));
  if (inputTimes.length) markers.push({ track: 'input', at: Math.min(...inputTimes), estimated: false });
  for (const m of markers) {
    const x = toX(m.at);
    const region = regions[m.track === 'screen' || m.track === 'webcam' ? 'thumbnails' : m.track] || regions.thumbnails;
    g.strokeStyle = trackColour(m.track);
    g.lineWidth = 2;
    g.setLineDash(m.estimated ? [4, 3] : []);
    g.beginPath();
    g.moveTo(x, region.y - 4);
    g.lineTo(x, region.y + region.height + 4);
    g.stroke();
    g.setLineDash([]);
    g.lineWidth = 1;
    g.fillStyle = trackColour(m.track);
    g.beginPath();
    g.moveTo(x - 5, region.y - 6);
    g.lineTo(x + 5, region.y - 6);
    g.lineTo(x, region.y);
    g.fill();
  }

  // Cursor trail and clicks over a frame of the screen video.
  const tr = regions.trail;
  g.fillStyle = colours.text;
  g.font = '14px sans-serif';
  g.fillText('cursor trail (blue = early, red = late) and clicks (rings) over the screen at mid-recording', plotLeft, tr.y - 14);
  g.fillStyle = colours.panel;
  g.fillRect(tr.x, tr.y, tr.width, tr.height);
  if (frameForTrail) drawFrame(g, frameForTrail, tr.x, tr.y, tr.width, tr.height);
  g.fillStyle = 'rgba(0,0,0,0.35)';
  g.fillRect(tr.x, tr.y, tr.width, tr.height);
  if (meta) {
    // Events outside the recorded area would be drawn outside the frame.
    g.save();
    g.beginPath();
    g.rect(tr.x, tr.y, tr.width, tr.height);
    g.clip();
    const area = Array.isArray(meta.rx) && meta.rx[2] && meta.rx[3] ? meta.rx : [0, 0, meta.width, meta.height];
    const sx = (x) => tr.x + ((x - area[0]) / meta.width) * tr.width;
    const sy = (v) => tr.y + ((v - area[1]) / meta.height) * tr.height;
    const moves = inputRecords['positions.json'] || [];
    // A dark band under the trail keeps it apart from whatever the screen showed.
    g.strokeStyle = 'rgba(0,0,0,0.8)';
    g.lineWidth = 6;
    g.beginPath();
    moves.forEach((m, i) => (i ? g.lineTo(sx(m.x), sy(m.y)) : g.moveTo(sx(m.x), sy(m.y))));
    g.stroke();
    g.lineWidth = 2.5;
    for (let i = 1; i < moves.length; i++) {
      const f = i / moves.length;
      g.strokeStyle = `rgb(${Math.round(80 + 175 * f)},${Math.round(160 - 90 * f)},${Math.round(255 - 175 * f)})`;
      g.beginPath();
      g.moveTo(sx(moves[i - 1].x), sy(moves[i - 1].y));
      g.lineTo(sx(moves[i].x), sy(moves[i].y));
      g.stroke();
    }
    drawCursorImages(g, inspection.cursorImages, moves, sx, sy);
    for (const c of inputRecords['clicks.json'] || []) {
      g.strokeStyle = c.type === 0 ? '#ff4040' : '#ffffff';
      g.lineWidth = c.type === 0 ? 3 : 1.5;
      g.beginPath();
      g.arc(sx(c.x), sy(c.y), c.type === 0 ? 9 : 14, 0, Math.PI * 2);
      g.stroke();
    }
    g.restore();
    g.lineWidth = 1;
  }

  // Legend beside the trail.
  const lx = tr.x + tr.width + 20;
  let ly = tr.y + 10;
  g.font = '13px sans-serif';
  for (const r of rows.filter((row) => row.startMs !== null)) {
    g.fillStyle = trackColour(r.track);
    g.fillRect(lx, ly - 5, 10, 10);
    g.fillStyle = colours.text;
    g.fillText(`${r.file}: starts ${r.estimatedStart ? '~' : ''}${(r.startMs / 1000).toFixed(3)} s`, lx + 16, ly);
    ly += 22;
  }

  fs.writeFileSync(file, canvas.encodeSync('png'));
  return { file, width, height, regions };
}

// The cursor the user saw, drawn with its recorded image at a few points along the trail, its
// hotspot on the point, at twice its size so it stands out on the scaled-down frame.
function drawCursorImages(g, cursorImages, moves, sx, sy) {
  if (!cursorImages || !moves.length) return;
  const byId = new Map(cursorImages.images.map((image) => [image.id, image]));
  const loaded = new Map();
  const points = 6;
  for (let i = 0; i < points; i++) {
    const m = moves[Math.min(moves.length - 1, Math.round((i * (moves.length - 1)) / Math.max(1, points - 1)))];
    const shown = cursorImages.timeline.filter((entry) => entry.time <= m.time).pop();
    const image = shown && shown.id !== null ? byId.get(shown.id) : null;
    if (!image) continue;
    if (!loaded.has(image.id)) {
      const picture = new Image();
      picture.src = fs.readFileSync(path.join(cursorImages.folder, image.file));
      loaded.set(image.id, picture);
    }
    const zoom = 2 / (image.scale || 1);
    g.drawImage(loaded.get(image.id), sx(m.x) - image.hotX * zoom, sy(m.y) - image.hotY * zoom, image.width * zoom, image.height * zoom);
  }
}

module.exports = { writeOverview };
