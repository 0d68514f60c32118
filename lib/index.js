'use strict';
// The package: the Recorder and what an app builds on it. The overview (which loads a canvas
// library) is loaded when first used.
const { Recorder, getStatus, listCameras, listDisplays, listMics, listMicDetails } = require('./recorder');
const { recover } = require('./recover');
const { record } = require('./record');
const { inspectRecording } = require('./inspect');
const { listDevices } = require('./devices');

function writeOverview(inspection, options) {
  return require('./overview').writeOverview(inspection, options);
}

module.exports = {
  Recorder,
  getStatus,
  listCameras,
  listDisplays,
  listMicDetails,
  recover,
  record,
  inspect: inspectRecording,
  writeOverview,
  listMics,
  listDevices,
};
