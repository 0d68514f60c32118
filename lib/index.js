'use strict';

// Loads the native add-on. DESKTRACKS_ADDON_PATH names a specific build; otherwise the usual
// build folders are tried in order.
const path = require('path');

const root = path.join(__dirname, '..');
const candidates = process.env.DESKTRACKS_ADDON_PATH
  ? [path.resolve(process.env.DESKTRACKS_ADDON_PATH)]
  : [
      path.join(root, 'build', 'Release', 'desktracks.node'),
      path.join(root, 'build-win', 'Release', 'desktracks.node'),
      path.join(root, 'prebuilds', `${process.platform}-${process.arch}`, 'desktracks.node'),
    ];

function load() {
  const failures = [];
  for (const candidate of candidates) {
    try {
      return require(candidate);
    } catch (err) {
      failures.push(`  ${candidate}: ${err.code === 'MODULE_NOT_FOUND' ? 'not built' : err.message}`);
    }
  }
  throw new Error(
    `desktracks: could not load the native add-on for ${process.platform}-${process.arch}.\n` +
      `Tried:\n${failures.join('\n')}\n` +
      'Build it with "npm run build" (after scripts/setup.sh on a fresh machine), or point ' +
      'DESKTRACKS_ADDON_PATH at a built desktracks.node.'
  );
}

const { Recorder, listCameras } = load();

module.exports = { Recorder, listCameras };
