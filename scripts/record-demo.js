#!/usr/bin/env node
'use strict';
// Records `seconds` of the desktop into `projectDir` with every track this machine offers, then
// lists the files with their sizes and durations.
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const { Recorder, listCameras } = require('..');

const projectDir = path.resolve(process.argv[2] || 'recording');
const seconds = Number(process.argv[3] || 5);

function pickMic(mics) {
  if (!mics || mics.length === 0) return -1;
  const preferred = mics.find((m) => /virtualmic/i.test(m.name)) || mics.find((m) => !/^monitor of/i.test(m.name));
  return (preferred || mics[0]).index;
}

function wavSummary(file) {
  const buf = fs.readFileSync(file);
  if (buf.length < 44 || buf.toString('ascii', 0, 4) !== 'RIFF') return 'not a WAV file';
  const rate = buf.readUInt32LE(24);
  const channels = buf.readUInt16LE(22);
  const bits = buf.readUInt16LE(34);
  const dataBytes = buf.length - 44;
  return `${rate} Hz, ${channels} ch, ${bits}-bit, ${(dataBytes / (rate * channels * (bits / 8))).toFixed(2)} s`;
}

function videoSummary(file) {
  try {
    const out = execFileSync('ffprobe', ['-v', 'error', '-select_streams', 'v:0', '-count_packets',
      '-show_entries', 'stream=codec_name,width,height,nb_read_packets:format=duration', '-of', 'json', file]);
    const info = JSON.parse(out);
    const s = info.streams[0];
    return `${s.codec_name} ${s.width}x${s.height}, ${s.nb_read_packets} frames, ${Number(info.format.duration).toFixed(2)} s`;
  } catch {
    return 'unreadable by ffprobe';
  }
}

function jsonSummary(file) {
  try {
    const value = JSON.parse(fs.readFileSync(file, 'utf8'));
    if (Array.isArray(value)) return `${value.length} records`;
    return value === null ? 'null' : `${Object.keys(value).length} keys`;
  } catch {
    return 'unreadable JSON';
  }
}

const recorder = new Recorder();
const mics = recorder.getMics();
const micIndex = pickMic(mics);
const cameras = listCameras();
const webcamIndex = cameras.length ? 0 : -1;
console.log(`recording ${seconds} s into ${projectDir}` + (micIndex >= 0 ? ` (microphone: ${mics[micIndex].name})` : ''));
console.log(webcamIndex >= 0 ? `webcam: ${cameras[0].name}` : 'no camera found: no webcam track');
recorder.start({ projectDir, micIndex, systemAudioIndex: 0, webcamIndex, fps: 30, bitrate: 18000000 });
setTimeout(() => {
  recorder.end();
  console.log('written:');
  for (const name of fs.readdirSync(projectDir).sort()) {
    const file = path.join(projectDir, name);
    const size = fs.statSync(file).size;
    let detail = '';
    if (name.endsWith('.mp4')) detail = videoSummary(file);
    else if (name.endsWith('.wav')) detail = wavSummary(file);
    else if (name.endsWith('.json')) detail = jsonSummary(file);
    else if (name.endsWith('.log')) detail = `${fs.readFileSync(file, 'utf8').split('\n').filter(Boolean).length} lines`;
    console.log(`  ${name.padEnd(18)} ${String(size).padStart(10)} bytes  ${detail}`);
  }
}, seconds * 1000);
