'use strict';
// Small helpers shared by the JavaScript tests.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');

const repoRoot = path.join(__dirname, '..', '..', '..');

/** A fresh, empty folder under the system's temp dir. */
function tempDir(prefix = 'desktracks-test-') {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

const readJson = (projectDir, name) => JSON.parse(fs.readFileSync(path.join(projectDir, name), 'utf8'));
const readMeta = (projectDir) => readJson(projectDir, 'meta.json');

function readLog(projectDir) {
  return fs.readFileSync(path.join(projectDir, 'recorder.log'), 'utf8');
}

/** The log's messages without their time/name/level prefix. */
function logMessages(projectDir) {
  return readLog(projectDir)
    .split('\n')
    .filter(Boolean)
    .map((line) => line.replace(/^\[[^\]]+\] \[basic_logger\] \[[a-z]+\] /, ''));
}

/** Runs a snippet of JavaScript in a child node with `Recorder` in scope. */
function runNode(source, { args = [], env = {}, cwd } = {}) {
  const script = `const { Recorder } = require(${JSON.stringify(repoRoot)});\n${source}`;
  return spawnSync(process.execPath, [...args, '-e', script], {
    cwd,
    env: { ...process.env, ...env },
    encoding: 'utf8',
    timeout: 120000,
  });
}

/** The video packets of `file` as [pts, duration] in seconds, in presentation order (ffprobe). */
function videoPackets(file) {
  const out = spawnSync('ffprobe', ['-v', 'error', '-select_streams', 'v', '-show_entries', 'packet=pts_time,duration_time',
    '-of', 'csv=p=0', file], { encoding: 'utf8' }).stdout;
  return out.split('\n').filter((l) => l.trim()).map((l) => l.split(',').map(Number)).sort((a, b) => a[0] - b[0]);
}

module.exports = { repoRoot, tempDir, readJson, readMeta, readLog, logMessages, runNode, videoPackets };
