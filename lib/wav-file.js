'use strict';
// Reads a recorded WAV track: its header (which must be the track format, 16-bit mono 16000 Hz
// PCM, with a data size that matches the file) and, on request, its samples.
const fs = require('fs');

const trackFormat = { sampleRate: 16000, channels: 1, bitsPerSample: 16 };

function findChunks(buf) {
  const chunks = {};
  let offset = 12;
  while (offset + 8 <= buf.length) {
    const id = buf.toString('ascii', offset, offset + 4).trim();
    const size = buf.readUInt32LE(offset + 4);
    if (!(id in chunks)) chunks[id] = { offset: offset + 8, size };
    offset += 8 + size + (size % 2);
  }
  return chunks;
}

/**
 * Parses the file; throws an Error saying what is wrong when it is not a complete WAV file in
 * the track format. Returns { sampleRate, channels, bitsPerSample, frames, durationMs, samples? }.
 */
function readWav(file, { withSamples = false } = {}) {
  const buf = fs.readFileSync(file);
  if (buf.length < 12 || buf.toString('ascii', 0, 4) !== 'RIFF' || buf.toString('ascii', 8, 12) !== 'WAVE') {
    throw new Error('not a WAV file (no RIFF/WAVE header)');
  }
  const chunks = findChunks(buf);
  if (!chunks.fmt || chunks.fmt.size < 16) throw new Error('WAV header has no format chunk');
  const fmt = chunks.fmt.offset;
  const info = {
    audioFormat: buf.readUInt16LE(fmt),
    channels: buf.readUInt16LE(fmt + 2),
    sampleRate: buf.readUInt32LE(fmt + 4),
    bitsPerSample: buf.readUInt16LE(fmt + 14),
  };
  if (info.audioFormat !== 1 || info.channels !== trackFormat.channels || info.sampleRate !== trackFormat.sampleRate ||
      info.bitsPerSample !== trackFormat.bitsPerSample) {
    throw new Error(`unexpected format: code ${info.audioFormat}, ${info.channels} ch, ${info.sampleRate} Hz, ` +
      `${info.bitsPerSample}-bit (expected PCM, 1 ch, 16000 Hz, 16-bit)`);
  }
  if (!chunks.data) throw new Error('WAV header has no data chunk');
  const available = buf.length - chunks.data.offset;
  if (chunks.data.size > available) {
    throw new Error(`data chunk claims ${chunks.data.size} bytes but the file holds ${available} (truncated)`);
  }
  if (buf.readUInt32LE(4) + 8 !== buf.length && buf.readUInt32LE(4) + 8 !== buf.length - (buf.length % 2)) {
    throw new Error(`RIFF size ${buf.readUInt32LE(4) + 8} does not match the file size ${buf.length} (not completed)`);
  }
  const frames = Math.floor(chunks.data.size / 2);
  const result = {
    sampleRate: info.sampleRate, channels: info.channels, bitsPerSample: info.bitsPerSample,
    frames, durationMs: (frames / info.sampleRate) * 1000,
  };
  if (withSamples) {
    result.samples = new Int16Array(buf.buffer.slice(buf.byteOffset + chunks.data.offset, buf.byteOffset + chunks.data.offset + frames * 2));
  }
  return result;
}

module.exports = { readWav };
