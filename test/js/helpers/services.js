'use strict';
// Every end-to-end test file records against the private Xvfb and PulseAudio of
// scripts/test-services.sh: the set scripts/test.sh shares (DESKTRACKS_SERVICES_DIR is then set),
// or a set of the file's own, so that a test never drives the developer's real desktop. With
// `fresh`, the file always gets a set of its own, started just now.
const path = require('path');
const { execFileSync, spawn } = require('child_process');
const { repoRoot } = require('./project');

const script = path.join(repoRoot, 'scripts', 'test-services.sh');

function useTestServices({ fresh = false } = {}) {
  if (process.env.DESKTRACKS_SERVICES_DIR && !fresh) return;
  const exports = execFileSync(script, ['start'], { encoding: 'utf8' });
  for (const [, name, value] of exports.matchAll(/^export (\w+)='([^']*)'$/gm)) process.env[name] = value;
  const dir = process.env.DESKTRACKS_SERVICES_DIR;
  // Stopped only once this process has exited: the add-on keeps its X connections for the life of
  // the process, and Xlib ends a process whose display goes away under it.
  process.once('exit', () => spawn(script, ['stop', dir], { detached: true, stdio: 'ignore' }).unref());
}

module.exports = { useTestServices };
