'use strict';
// The Recorder a host uses: the add-on's class, with its three methods, made an EventEmitter and
// given stop(), pause() and resume(). The add-on emits through the instance's own emit().
const { EventEmitter } = require('events');
const { loadAddon } = require('./load-addon');

const addon = loadAddon();

Object.setPrototypeOf(addon.Recorder.prototype, EventEmitter.prototype);

class Recorder extends addon.Recorder {
  constructor() {
    super();
    EventEmitter.call(this);
  }

  /** Ends the recording like end(), finishing the files off this thread. */
  stop() {
    return addon.stopRecording(this);
  }

  /** Holds every track until resume(); true when the recording was running and is now paused. */
  pause() {
    return addon.pauseRecording(this);
  }

  /** Goes on after pause(); true when the recording was paused. */
  resume() {
    return addon.resumeRecording(this);
  }
}

/** The microphones getMics() lists, or null when the audio system cannot list them. */
function listMics() {
  try {
    return new Recorder().getMics();
  } catch {
    return null;
  }
}

module.exports = { Recorder, addon, getStatus: addon.getStatus, listCameras: addon.listCameras, listMics };
