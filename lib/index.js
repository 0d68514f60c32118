'use strict';

const { loadAddon } = require('./load-addon');

const { recover } = require('./recover');

const addon = loadAddon();

module.exports = {
  Recorder: addon.Recorder,
  getStatus: addon.getStatus,
  recover,
};
// Present in builds that can list cameras.
if (typeof addon.listCameras === 'function') module.exports.listCameras = addon.listCameras;
