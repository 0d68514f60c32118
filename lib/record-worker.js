'use strict';
// Runs one Recorder on a worker thread, so that the thread showing progress and handling signals
// stays free while end() waits for the files.
const { parentPort, workerData } = require('worker_threads');
const { Recorder } = require('./index');

const recorder = new Recorder();
try {
  recorder.start(workerData);
  parentPort.postMessage({ started: true });
} catch (err) {
  parentPort.postMessage({ error: err.message });
  process.exit(0);
}
parentPort.on('message', (message) => {
  if (message !== 'end') return;
  recorder.end();
  parentPort.postMessage({ ended: true });
  parentPort.close();
});
