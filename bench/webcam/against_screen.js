'use strict';
// The host half of bench/webcam/against_screen.sh: finds each flip of flips.log in output.mp4 and
// webcam.mp4 (the first frame of the new colour, at its track's start in tracks.json plus its own
// time) and prints how late each track shows the flips, in the first and the last minute.
//   node bench/webcam/against_screen.js <folder with the guest's files>
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');

const dir = process.argv[2];
const tracks = JSON.parse(fs.readFileSync(path.join(dir, 'tracks.json'), 'utf8')).tracks;
const flips = fs.readFileSync(path.join(dir, 'flips.log'), 'utf8').trim().split('\n').map((line) => {
  const [n, white, before, after] = line.split(' ').map(Number);
  return { n, white: white === 1, before, after };
});

// Each frame's time (ms from the file's start) and mean brightness.
function frames(file) {
  const out = execFileSync('ffprobe', ['-v', 'error', '-f', 'lavfi', '-i', `movie=${file},signalstats`,
    '-show_entries', 'frame=best_effort_timestamp_time:frame_tags=lavfi.signalstats.YAVG', '-of', 'csv=p=0'],
  { encoding: 'utf8', maxBuffer: 1 << 28 });
  return out.trim().split('\n').map((line) => {
    const [t, y] = line.split(',').map(Number);
    return { t: t * 1000, white: y > 128 };
  });
}

// Wall-clock ms at which each flip (from the second on: the first one only confirms black) shows.
function shown(kind, file) {
  const track = tracks.find((t) => t.kind === kind);
  const list = frames(path.join(dir, file));
  const at = new Map();
  let i = 0;
  for (const flip of flips.slice(1)) {
    while (i < list.length && (track.start + list[i].t < flip.before - 500 || list[i].white !== flip.white)) i++;
    if (i === list.length) break;
    at.set(flip.n, track.start + list[i].t);
  }
  return { at, count: list.length, seconds: track.duration / 1000 };
}

const screen = shown('screen', 'output.mp4');
const webcam = shown('webcam', 'webcam.mp4');
const rows = flips.slice(1).filter((f) => screen.at.has(f.n) && webcam.at.has(f.n)).map((f) => ({
  at: f.before,
  screen: screen.at.get(f.n) - f.before,
  webcam: webcam.at.get(f.n) - f.before,
  asked: f.after - f.before,
}));
const stats = (list) => {
  const mean = list.reduce((a, b) => a + b, 0) / list.length;
  return `mean ${mean.toFixed(1)} ms, ${Math.min(...list).toFixed(1)} to ${Math.max(...list).toFixed(1)}`;
};
console.log(`screen: ${screen.count} frames over ${screen.seconds.toFixed(1)} s; webcam: ${webcam.count} frames over ` +
  `${webcam.seconds.toFixed(1)} s; flips found in both: ${rows.length} of ${flips.length - 1}`);
const first = rows.filter((r) => r.at < rows[0].at + 60000);
const last = rows.filter((r) => r.at >= rows[rows.length - 1].at - 60000);
for (const [name, part] of [['first minute', first], ['last minute', last]]) {
  console.log(`${name} (${part.length} flips): screen shows them ${stats(part.map((r) => r.screen))}; ` +
    `webcam ${stats(part.map((r) => r.webcam))}; webcam - screen ${stats(part.map((r) => r.webcam - r.screen))}; ` +
    `flipping took ${stats(part.map((r) => r.asked))}`);
}
