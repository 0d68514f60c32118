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

module.exports = { repoRoot, tempDir, readJson, readMeta, readLog, logMessages, runNode };
