'use strict';
// The mingw-built add-on in the Windows node.exe under Wine, hosted by node.exe itself and by a
// renamed copy of it, as Electron and packaged apps host add-ons: the module surface, every
// TypeError, start/end cycles with meta.json's bytes and the standard-output line, the log
// appended across recordings, the guards around a running recording, and that Node-API is the
// host's own (no second node.exe is loaded, even with one on the search path).
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { runWindowsNode, winPath } = require('./helpers/wine');

// Wine cannot duplicate the desktop, so no screen size, start time or area is ever known.
const expectedMeta = JSON.stringify({ fps: 30, height: 0, micChannels: 1, micIndex: -1, micSimpleRate: 16000, playbackChannels: 1,
  playbackSimpleRate: 16000, rx: [0, 0, 0, 0], systemAudioIndex: -1, time: 0, width: 0 }, null, 4);

for (const host of ['node.exe', 'renamed']) {
  test(`the add-on hosted by ${host === 'renamed' ? 'a renamed copy of node.exe' : 'node.exe'}`, async (t) => {
    const project = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-win-'));
    const blocker = path.join(project, 'a-file');
    fs.writeFileSync(blocker, '');
    const run = await runWindowsNode(
      `
      report('exports', Object.keys(require(process.env.DESKTRACKS_ADDON_PATH)));
      report('prototype', Object.getOwnPropertyNames(require(process.env.DESKTRACKS_ADDON_PATH).Recorder.prototype).sort());
      report('packagePrototype', Object.getOwnPropertyNames(Recorder.prototype).sort());
      const recorder = new Recorder();
      report('notAnObject', [[], [null], [42], ['dir']].map((args) => outcome(() => recorder.start(...args))));
      report('badArea', ['0,0,10,10', [1, 2, 3], [10, 20, 'x', 40]].map((area) => outcome(() => recorder.start({ area }))));
      report('getMics', outcome(() => Array.isArray(recorder.getMics())));
      report('displays', outcome(() => require(process.env.DESKTRACKS_ADDON_PATH).listDisplays()));
      report('badDisplay', ['0', 1.5, -2].map((display) => outcome(() => recorder.start({ display }))));
      report('unopenableLog', outcome(() => recorder.start({ projectDir: ${JSON.stringify(winPath(path.join(blocker, 'sub')))}, area: [0, 0, 0, 0] })));
      const projectDir = ${JSON.stringify(winPath(project))};
      report('first', outcome(() => recorder.start({ projectDir, area: [10.9, -3.7, 800, 600], micIndex: -1, systemAudioIndex: -1 })));
      report('whileRunning', outcome(() => new Recorder().start({ projectDir: 'elsewhere' })));
      sleep(300);
      report('firstEnd', outcome(() => recorder.end()));
      report('firstMeta', fs.readFileSync(path.join(projectDir, 'meta.json'), 'utf8'));
      report('idleEnd', outcome(() => recorder.end()));
      report('second', outcome(() => recorder.start({})));
      sleep(300);
      report('secondEnd', outcome(() => recorder.end()));
      report('modules', process.report.getReport().sharedObjects.map((file) => path.win32.basename(file).toLowerCase()));
      report('host', path.win32.basename(process.execPath));
      `,
      { host }
    );
    const r = run.results;
    assert.equal(run.status, 0, run.stderr);

    await t.test('it loads and exports Recorder (start, end, getMics), getStatus, listCameras, listDisplays, listMicDetails, readVideoFrames and recoverProject', () => {
      assert.deepEqual(r.exports.sort(), ['Recorder', 'getStatus', 'listCameras', 'listDisplays', 'listMicDetails', 'pauseRecording',
        'readVideoFrames', 'recoverProject', 'resumeRecording', 'stopRecording']);
      assert.deepEqual(r.prototype, ['constructor', 'end', 'getMics', 'start']);
      assert.deepEqual(r.packagePrototype, ['constructor', 'pause', 'resume', 'stop']);
      assert.equal(r.host, host === 'renamed' ? 'desktracks-host.exe' : 'node.exe');
    });

    await t.test('Node-API is the host process itself: no second node.exe is loaded', () => {
      const nodes = r.modules.filter((name) => name === 'node.exe');
      assert.equal(nodes.length, host === 'renamed' ? 0 : 1, `${r.modules}`);
    });

    await t.test('every TypeError of start, with nothing started', () => {
      const typeError = (message) => ({ error: 'TypeError', message });
      assert.deepEqual(r.notAnObject, Array(4).fill(typeError('Expected an object as the first argument')));
      assert.deepEqual(r.badArea, [
        typeError('Area must be an array'),
        typeError('Area array must have exactly four elements'),
        typeError('Area array should contain only numbers'),
      ]);
      assert.deepEqual(r.getMics, { value: true });
      assert.deepEqual(r.badDisplay, Array(3).fill(typeError('display must be an index from listDisplays(), or -1')));
    });

    await t.test('listDisplays lists the DXGI outputs with the primary one at 0, 0', () => {
      const displays = r.displays.value;
      assert.ok(Array.isArray(displays) && displays.length >= 1, JSON.stringify(r.displays));
      assert.deepEqual(displays.map((d) => d.index), displays.map((_, i) => i));
      const primary = displays.filter((d) => d.primary);
      assert.equal(primary.length, 1, JSON.stringify(displays));
      assert.deepEqual([primary[0].left, primary[0].top], [0, 0]);
      for (const d of displays) {
        assert.ok(d.right > d.left && d.bottom > d.top && d.scale > 0 && /DISPLAY/.test(d.name), JSON.stringify(d));
      }
    });

    await t.test('a log that cannot be opened is an Error naming it, and the next start works', () => {
      assert.equal(r.unopenableLog.error, 'Error');
      assert.match(r.unopenableLog.message, /^Cannot open the recording log ".*a-file\\sub\\recorder\.log": /);
      assert.deepEqual(r.first, { value: 'undefined' });
    });

    await t.test('a second start while recording is refused and the recording goes on', () => {
      assert.deepEqual(r.whileRunning, {
        error: 'Error',
        message: 'A recording is already running in this process; call end() before starting another',
      });
      assert.equal(fs.existsSync(path.join(project, 'elsewhere')), false);
    });

    await t.test('meta.json holds the settings of its recording, byte for byte', () => {
      assert.equal(r.firstMeta, expectedMeta);
      // The second recording's settings after the reset.
      assert.equal(fs.readFileSync(path.join(project, 'meta.json'), 'utf8'), expectedMeta);
    });

    await t.test('each end prints the quoted meta.json path once; an idle end prints nothing', () => {
      assert.deepEqual(r.idleEnd, { value: 'undefined' });
      const quoted = `"${winPath(path.join(project, 'meta.json')).replace(/\\/g, '\\\\')}"`;
      assert.equal(run.stdout.replace(/\r/g, ''), `${quoted}\n${quoted}\n`);
    });

    await t.test('recorder.log keeps both recordings', () => {
      const messages = fs.readFileSync(path.join(project, 'recorder.log'), 'utf8').split(/\r?\n/);
      const count = (message) => messages.filter((line) => line.endsWith(`] ${message}`)).length;
      assert.equal(count('write end'), 2);
      assert.equal(count('end'), 4);
    });
  });
}
