#!/usr/bin/env node
'use strict';
// Runs when the package is installed. Keeps the prebuilt binary when it loads on this machine;
// on a Linux whose libraries differ from the prebuild's (another distribution or release) it
// builds the add-on from source with CMake against the system's development packages, found
// through pkg-config. When neither works it names what is missing and the package to install,
// and leaves the same text in build/install-error.txt for the loader's error.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');
const { packagesFor, debianDevPackages } = require('../lib/build-packages');

const root = path.join(__dirname, '..');
const buildDir = path.join(root, 'build');
const errorFile = path.join(buildDir, 'install-error.txt');
const log = (line) => console.error(`desktracks: ${line}`);

// The first line that says why a binary does not load, from a child process (a binary that
// cannot load must not take this process with it).
function loadProblem(file) {
  const result = spawnSync(process.execPath, ['-e', `require(${JSON.stringify(file)})`], { encoding: 'utf8' });
  if (result.status === 0) return null;
  const lines = `${result.stderr}`.split('\n');
  return lines.find((l) => /cannot open shared object|undefined symbol|version .* not found/.test(l)) ||
    lines.find((l) => /^Error/.test(l)) || `exit ${result.status}`;
}

function onPath(tool) {
  return spawnSync('sh', ['-c', `command -v ${tool}`], { stdio: 'ignore' }).status === 0;
}

function fail(message) {
  fs.mkdirSync(buildDir, { recursive: true });
  fs.writeFileSync(errorFile, `${message}\n`);
  log(message);
  process.exit(1);
}

function main() {
  // A checkout builds with scripts/build.js; Windows always uses the prebuilt binary.
  if (fs.existsSync(path.join(root, 'test')) || process.env.DESKTRACKS_SKIP_INSTALL_BUILD) return;
  if (process.platform !== 'linux') return;
  fs.rmSync(errorFile, { force: true });
  const prebuild = path.join(root, 'prebuilds', `${process.platform}-${process.arch}`, 'desktracks.node');
  let why = 'no prebuilt binary for this platform';
  if (fs.existsSync(prebuild)) {
    why = loadProblem(prebuild);
    if (why === null) return;
  }
  log(`the prebuilt binary does not load here (${why.trim()}); building from source`);

  const tools = [['cmake', 'cmake'], ['c++', 'g++'], ['make', 'make'], ['pkg-config', 'pkg-config']];
  const missingTools = tools.filter(([tool]) => !onPath(tool));
  if (missingTools.length) {
    fail(`cannot build from source: ${missingTools.map(([t]) => t).join(', ')} not found.\n` +
      `Install the build tools and libraries, then install desktracks again:\n` +
      `  apt-get install --no-install-recommends ${[...missingTools.map(([, p]) => p), ...debianDevPackages].join(' ')}`);
  }
  const configure = spawnSync('cmake', ['-S', root, '-B', buildDir, '-DDESKTRACKS_TESTS=OFF', '-DCMAKE_BUILD_TYPE=Release'],
    { encoding: 'utf8' });
  if (configure.status !== 0) {
    const output = `${configure.stdout}\n${configure.stderr}`;
    const missing = packagesFor(output);
    if (missing.length) {
      fail(`cannot build from source: missing ${missing.map((m) => m.library).join(', ')}.\n` +
        `Install (Debian/Ubuntu names) and install desktracks again:\n` +
        `  apt-get install --no-install-recommends ${[...new Set(missing.map((m) => m.package))].join(' ')}`);
    }
    fail(`cannot build from source: CMake failed:\n${output.trim().split('\n').slice(-15).join('\n')}`);
  }
  const jobs = String(Math.max(1, Math.min(os.cpus().length, 4)));
  log('compiling (a few minutes)');
  const build = spawnSync('cmake', ['--build', buildDir, '-j', jobs], { encoding: 'utf8' });
  if (build.status !== 0) {
    fail(`cannot build from source: compiling failed:\n${`${build.stdout}\n${build.stderr}`.trim().split('\n').filter((l) => /error/i.test(l)).slice(0, 15).join('\n')}`);
  }
  const built = path.join(buildDir, 'Release', 'desktracks.node');
  const problem = loadProblem(built);
  if (problem !== null) fail(`built ${built}, but it does not load: ${problem}`);
  // Only the binaries are needed from here on.
  for (const entry of fs.readdirSync(buildDir)) {
    if (entry !== 'Release') fs.rmSync(path.join(buildDir, entry), { recursive: true, force: true });
  }
  log(`built from source: ${built}`);
}

main();
