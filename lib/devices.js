'use strict';
// What can be recorded: the microphones (getMics) and, in builds that can list them, the cameras.
const { Recorder, listCameras, listDisplays } = require('./recorder');

/**
 * { mics: [{index, name}] | null, micError?, cameras: [{index, name}] | null, cameraError?,
 *   displays: [{index, name, left, top, right, bottom, primary, scale}] | null, displayError? }
 */
function listDevices() {
  const result = { mics: null, cameras: null, displays: null };
  try {
    result.mics = new Recorder().getMics();
  } catch (err) {
    result.micError = err.message;
  }
  if (typeof listCameras !== 'function') {
    result.cameraError = 'camera listing not available in this build';
  } else {
    try {
      result.cameras = listCameras();
    } catch (err) {
      result.cameraError = err.message;
    }
  }
  try {
    result.displays = listDisplays();
  } catch (err) {
    result.displayError = err.message;
  }
  return result;
}

module.exports = { listDevices };
