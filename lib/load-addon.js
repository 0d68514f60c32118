'use strict';
// Finds and loads the native add-on. DESKTRACKS_ADDON_PATH names a specific build; otherwise a
// local build (build/Release, the Windows cross-build on Windows) comes first, then the prebuilt
// binary shipped in the package (prebuilds/<platform>-<arch>/). When none loads, the error lists
// every path tried with its reason, and what to do about it.
const fs = require('fs');
const path = require('path');
const { runtimeFamily, debianDevPackages } = require('./build-packages');

const root = path.join(__dirname, '..');
const platformTag = `${process.platform}-${process.arch}`;

// The Debian 12 packages the Linux binaries need at run time (also in the README).
const linuxRuntimePackages =
  'libavcodec59 libavformat59 libavutil57 libswscale6 libyuv0 libspdlog1.10 libfmt9 ' +
  'libx11-6 libxext6 libxfixes3 libxdamage1 libxrandr2 libxcursor1 libxtst6';

function addonCandidates(env = process.env) {
  if (env.DESKTRACKS_ADDON_PATH) return [path.resolve(env.DESKTRACKS_ADDON_PATH)];
  const list = [path.join(root, 'build', 'Release', 'desktracks.node')];
  if (process.platform === 'win32') list.push(path.join(root, 'build-win', 'Release', 'desktracks.node'));
  list.push(path.join(root, 'prebuilds', platformTag, 'desktracks.node'));
  return list;
}

function reasonOf(err) {
  return err.code === 'MODULE_NOT_FOUND' ? 'not found' : err.message.split('\n')[0];
}

function solutions(failures) {
  const hints = [];
  const missingLibrary = failures.map((f) => /(\S+\.so[.\d]*): cannot open shared object file/.exec(f.reason)).find(Boolean);
  if (missingLibrary) {
    const family = runtimeFamily(missingLibrary[1]);
    hints.push(`the system library ${missingLibrary[1]}${family ? ` (package ${family}*)` : ''} is missing; ` +
      `on Debian 12 install the run-time libraries:\n      apt-get install --no-install-recommends ${linuxRuntimePackages}\n` +
      '    elsewhere install the build tools and development packages and install desktracks again, which builds it from source:\n' +
      `      apt-get install --no-install-recommends cmake g++ make pkg-config ${debianDevPackages.join(' ')}`);
  }
  const installError = path.join(root, 'build', 'install-error.txt');
  if (fs.existsSync(installError)) hints.push(`the build from source at install time failed: ${fs.readFileSync(installError, 'utf8').trim()}`);
  if (failures.every((f) => f.reason === 'not found')) {
    hints.push(`no binary exists for ${platformTag}: prebuilt binaries cover linux-x64 and win32-x64; ` +
      'elsewhere build from source with "npm run build" (after scripts/setup.sh on a fresh machine)');
  }
  if (process.execArgv.includes('--no-addons')) hints.push('node runs with --no-addons, which forbids native add-ons');
  hints.push('set DESKTRACKS_ADDON_PATH to a desktracks.node you built yourself');
  return hints;
}

function loadAddon(candidates = addonCandidates()) {
  const failures = [];
  for (const candidate of candidates) {
    try {
      return require(candidate);
    } catch (err) {
      failures.push({ candidate, reason: reasonOf(err) });
    }
  }
  throw new Error(
    `desktracks: could not load the native add-on for ${platformTag}.\n` +
      `Tried:\n${failures.map((f) => `  ${f.candidate}: ${f.reason}`).join('\n')}\n` +
      `Possible solutions:\n${solutions(failures).map((h) => `  - ${h}`).join('\n')}`
  );
}

module.exports = { loadAddon, addonCandidates, linuxRuntimePackages };
