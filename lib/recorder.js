'use strict';
// The Recorder a host uses: the add-on's class, with its three methods, made an EventEmitter and
// given stop(), pause() and resume(). The add-on emits through the instance's own emit().
const { EventEmitter } = require('events');
const { loadAddon } = require('./load-addon');

const addon = loadAddon();

Object.setPrototypeOf(addon.Recorder.prototype, EventEmitter.prototype);

// A plain constructor rather than a class: called without `new` it throws the add-on's own words.
function Recorder() {
  if (!new.target) throw new TypeError("Class constructors cannot be invoked without 'new'");
  const self = Reflect.construct(addon.Recorder, [], new.target);
  EventEmitter.call(self);
  return self;
}
Object.setPrototypeOf(Recorder, addon.Recorder);
Recorder.prototype = Object.create(addon.Recorder.prototype, {
  constructor: { value: Recorder, writable: true, configurable: true },
});

const methods = {
  /** Ends the recording like end(), finishing the files off this thread. */
  stop() {
    return addon.stopRecording(this);
  },
  /** Holds every track until resume(); true when the recording was running and is now paused. */
  pause() {
    return addon.pauseRecording(this);
  },
  /** Goes on after pause(); true when the recording was paused. */
  resume() {
    return addon.resumeRecording(this);
  },
};
for (const [name, fn] of Object.entries(methods)) {
  Object.defineProperty(Recorder.prototype, name, { value: fn, writable: true, configurable: true });
}

/** The microphones getMics() lists, or null when the audio system cannot list them. */
function listMics() {
  try {
    return new Recorder().getMics();
  } catch {
    return null;
  }
}

module.exports = { Recorder, addon, getStatus: addon.getStatus, listCameras: addon.listCameras, listDisplays: addon.listDisplays, listMicDetails: addon.listMicDetails, listMics };
