'use strict';

const { loadAddon } = require('./load-addon');

const { recover } = require('./recover');

const addon = loadAddon();

module.exports = {
  Recorder: addon.Recorder,
  getStatus: addon.getStatus,
  listCameras: addon.listCameras,
  listDisplays: addon.listDisplays,
  listMicDetails: addon.listMicDetails,
  recover,
};
