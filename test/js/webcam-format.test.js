'use strict';
// The webcamFormat start option and the command line's --webcam-format.
const test = require('node:test');
const assert = require('node:assert/strict');
const { Recorder } = require('../..');
const { resolveRecordOptions, UsageError } = require('../../lib/record');
const { tempDir } = require('./helpers/project');

test('webcamFormat: first, best or { width, height, fps }; anything else is a TypeError that starts nothing', () => {
  const message = "webcamFormat must be 'first', 'best' or { width, height, fps } with positive numbers";
  const recorder = new Recorder();
  for (const webcamFormat of ['largest', '', 5, null, [640, 480, 30], { width: 640, height: 480 }, { width: 640, height: 480, fps: 0 },
    { width: -1, height: 480, fps: 30 }, { width: 640, height: Infinity, fps: 30 }, { width: '640', height: 480, fps: 30 }]) {
    assert.throws(() => recorder.start({ projectDir: tempDir(), webcamFormat }), { name: 'TypeError', message }, JSON.stringify(webcamFormat));
  }
  // Accepted values start a recording (without a camera the option has nothing to choose from).
  for (const webcamFormat of ['first', 'best', { width: 1280, height: 720, fps: 29.97 }, undefined]) {
    recorder.start({ projectDir: tempDir(), webcamFormat });
    recorder.end();
  }
});

test('--webcam-format: best unless told otherwise, only with --webcam', () => {
  const resolve = (options) => resolveRecordOptions({ mic: false, ...options }, () => []).start;
  assert.equal(resolve({}).webcamFormat, undefined);
  assert.equal(resolve({ webcam: '0' }).webcamFormat, 'best');
  assert.equal(resolve({ webcam: '0', webcamFormat: 'first' }).webcamFormat, 'first');
  assert.deepEqual(resolve({ webcam: '0', webcamFormat: '640x480@25' }).webcamFormat, { width: 640, height: 480, fps: 25 });
  for (const bad of ['640x480', 'huge', '0x480@25']) assert.throws(() => resolve({ webcam: '0', webcamFormat: bad }), UsageError);
});
