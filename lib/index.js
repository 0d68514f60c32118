'use strict';

const { loadAddon } = require('./load-addon');

const addon = loadAddon();

module.exports = {
  Recorder: addon.Recorder,
  getStatus: addon.getStatus,
};
// Present in builds that can list cameras.
if (typeof addon.listCameras === 'function') module.exports.listCameras = addon.listCameras;
