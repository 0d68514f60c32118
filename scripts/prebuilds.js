#!/usr/bin/env node
'use strict';
// Gathers the built binaries into the package's prebuilds layout:
//   prebuilds/linux-x64/desktracks.node + libuiohook.so   (from build/Release)
//   prebuilds/win32-x64/desktracks.node + uiohook.dll     (from build-win/Release)
//   vendor/: the pinned third-party sources that a build from source at install time needs
// With --build it first builds both (node scripts/build.js, then --win). Runs before `npm pack`.
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');

const root = path.join(__dirname, '..');
const targets = [
  { tag: 'linux-x64', from: path.join(root, 'build', 'Release'), files: ['desktracks.node', 'libuiohook.so'], build: [], strip: 'strip' },
  { tag: 'win32-x64', from: path.join(root, 'build-win', 'Release'), files: ['desktracks.node', 'uiohook.dll'], build: ['--win'],
    strip: 'x86_64-w64-mingw32-strip' },
];

if (process.argv.includes('--build')) {
  for (const target of targets) {
    execFileSync(process.execPath, [path.join(root, 'scripts', 'build.js'), ...target.build], { stdio: 'inherit' });
  }
}

const missing = [];
for (const target of targets) {
  const dest = path.join(root, 'prebuilds', target.tag);
  fs.rmSync(dest, { recursive: true, force: true });
  fs.mkdirSync(dest, { recursive: true });
  for (const file of target.files) {
    const source = path.join(target.from, file);
    if (!fs.existsSync(source)) {
      missing.push(source);
      continue;
    }
    fs.copyFileSync(source, path.join(dest, file));
    // Symbols only make the download larger; a binutils without this target leaves them.
    try {
      execFileSync(target.strip, ['--strip-unneeded', path.join(dest, file)], { stdio: 'ignore' });
    } catch {}
  }
}
// The pinned sources a build from source needs that no Debian 12 package has (libuiohook,
// miniaudio) or that differ between releases (nlohmann-json), for installs that build the add-on.
const third = path.join(root, 'third_party');
const vendor = path.join(root, 'vendor');
fs.rmSync(vendor, { recursive: true, force: true });
for (const [from, to] of [
  ['trixie/usr/include/miniaudio.h', 'include/miniaudio.h'],
  ['trixie/usr/include/nlohmann', 'include/nlohmann'],
  ['uiohook/libuiohook', 'uiohook/libuiohook'],
]) {
  const source = path.join(third, from);
  if (!fs.existsSync(source)) {
    missing.push(source);
    continue;
  }
  fs.cpSync(source, path.join(vendor, to), { recursive: true, dereference: true });
}

if (missing.length) {
  console.error(`prebuilds: missing ${missing.join(', ')}\nbuild them with "node scripts/prebuilds.js --build"`);
  process.exit(1);
}
console.error(`prebuilds: ${targets.map((t) => `prebuilds/${t.tag}`).join(', ')} ready`);
