'use strict';
// What the install script and the loader say is missing, from the texts that pkg-config, pkgconf,
// CMake and the dynamic loader really print.
const test = require('node:test');
const assert = require('node:assert/strict');
const { packagesFor, runtimeFamily } = require('../../lib/build-packages');

test('missing development packages are named from CMake\'s output', () => {
  // Debian 13: pkgconf's line for the last module, then CMake's list of all of them.
  const pkgconf = `--   Package 'libswscale', required by 'virtual:world', not found
CMake Error at /usr/share/cmake-3.31/Modules/FindPkgConfig.cmake:645 (message):
  The following required packages were not found:

   - libavcodec
   - libavformat
   - libavutil
   - libswscale

Call Stack (most recent call first):`;
  assert.deepEqual(packagesFor(pkgconf).map((m) => m.package), ['libavcodec-dev', 'libavformat-dev', 'libavutil-dev', 'libswscale-dev']);
  // Debian 12's pkg-config, a CMake package and a plain library.
  const older = `-- Checking for modules 'x11;xext'
--   No package 'xext' found
  Could not find a package configuration file provided by "spdlog" with any
Could not find YUV_LIBRARY using the following names: yuv`;
  assert.deepEqual(packagesFor(older), [
    { library: 'spdlog', package: 'libspdlog-dev' }, { library: 'xext', package: 'libxext-dev' }, { library: 'yuv', package: 'libyuv-dev' }]);
  assert.deepEqual(packagesFor('-- Configuring done'), []);
});

test('a missing run-time library is traced to its package family', () => {
  assert.equal(runtimeFamily('libspdlog.so.1.10'), 'libspdlog');
  assert.equal(runtimeFamily('libavcodec.so.59'), 'libavcodec');
  assert.equal(runtimeFamily('libX11.so.6'), 'libx11');
  assert.equal(runtimeFamily('libsomething.so.1'), null);
});
