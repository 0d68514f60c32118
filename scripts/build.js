#!/usr/bin/env node
'use strict';
// Configures and builds the add-on with CMake: build/Release/desktracks.node on this machine,
// or with --win the win32-x64 cross-build into build-win/Release (mingw-w64).
const { execFileSync } = require('child_process');
const path = require('path');

const root = path.join(__dirname, '..');
const win = process.argv.includes('--win');
const werror = process.env.CI ? 'ON' : process.env.DESKTRACKS_WERROR || 'OFF';
const buildDir = path.join(root, win ? 'build-win' : 'build');
const configure = ['-S', root, '-B', buildDir, `-DDESKTRACKS_WERROR=${werror}`];
// The Windows unit tests are Windows programs too (run under Wine by scripts/test-windows.sh).
if (win) configure.push(`-DCMAKE_TOOLCHAIN_FILE=${path.join(root, 'cmake', 'mingw-w64.cmake')}`, '-DDESKTRACKS_TESTS=ON');

const run = (args) => execFileSync('cmake', args, { stdio: 'inherit' });
try {
  run(configure);
  run(['--build', buildDir, '-j', process.env.DESKTRACKS_JOBS || '2']);
} catch (err) {
  process.exitCode = err.status || 1;
}
