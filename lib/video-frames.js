'use strict';
// A recorded video's facts and frames, decoded by the add-on's own platform video code.
const { loadAddon } = require('./load-addon');

let addon = null;
const native = () => addon || (addon = loadAddon());

/** { codec, width, height, durationMs, samples }; throws an Error saying why the file is unreadable. */
function readVideoFacts(file) {
  const { frames, ...facts } = native().readVideoFrames(file, []);
  return facts;
}

/** The facts plus `frames`: for each time (ms) the frame on show, RGBA at `width` pixels wide. */
function readVideoFrames(file, timesMs, width) {
  return native().readVideoFrames(file, timesMs, width);
}

module.exports = { readVideoFacts, readVideoFrames };
