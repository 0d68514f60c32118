'use strict';
// The webcam track on a machine without the chosen camera: one error line, no webcam.mp4, and
// every other track records as usual. The recordings from a real camera driver run in the guest
// of scripts/test-webcam-guest.sh (test/guest/webcam.test.js).
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { listCameras } = require('../..');
const { tempDir, readMeta, logMessages, runNode } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');

useTestServices();

test('a webcamIndex outside the camera list records every other track', () => {
  const cameras = listCameras();
  assert.ok(Array.isArray(cameras));
  cameras.forEach((camera, i) => assert.deepEqual(camera, { index: i, name: camera.name }));
  for (const webcamIndex of [cameras.length, -2]) {
    const projectDir = tempDir('desktracks-webcam-');
    const child = runNode(`
      const recorder = new Recorder();
      recorder.start(${JSON.stringify({ projectDir, webcamIndex, micIndex: 0, systemAudioIndex: 0 })});
      setTimeout(() => recorder.end(), 1000);`);
    assert.equal(child.status, 0, child.stderr);
    const webcamLines = logMessages(projectDir).filter((line) => line.startsWith('WebcamRecorder:'));
    assert.deepEqual(webcamLines, [`WebcamRecorder:No video device at index ${webcamIndex} (${cameras.length} found).`]);
    assert.equal(fs.existsSync(path.join(projectDir, 'webcam.mp4')), false);
    for (const file of ['output.mp4', 'mivox.wav', 'output.wav', 'positions.json', 'clicks.json', 'cursor_info.json']) {
      assert.ok(fs.existsSync(path.join(projectDir, file)), file);
    }
    assert.equal(readMeta(projectDir).webcamIndex, undefined, 'meta.json has no webcamIndex');
  }
});
