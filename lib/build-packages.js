'use strict';
// Which Debian/Ubuntu package provides what a Linux build or a Linux binary of desktracks
// misses, for the errors of the install script and the loader.

// pkg-config modules, CMake packages and libraries the build looks for.
const devPackageOf = {
  libavcodec: 'libavcodec-dev', libavformat: 'libavformat-dev', libavutil: 'libavutil-dev', libswscale: 'libswscale-dev',
  x11: 'libx11-dev', xext: 'libxext-dev', xfixes: 'libxfixes-dev', xdamage: 'libxdamage-dev', xrandr: 'libxrandr-dev',
  xcursor: 'libxcursor-dev', xtst: 'libxtst-dev', libpulse: 'libpulse-dev', spdlog: 'libspdlog-dev', fmt: 'libfmt-dev',
  yuv: 'libyuv-dev',
};
const debianDevPackages = [...new Set(Object.values(devPackageOf))];

// Run-time libraries by their file name's stem (libavcodec.so.59 -> libavcodec).
const runtimeHint = {
  libavcodec: 'libavcodec', libavformat: 'libavformat', libavutil: 'libavutil', libswscale: 'libswscale',
  libyuv: 'libyuv', libspdlog: 'libspdlog', libfmt: 'libfmt', libX11: 'libx11', libXext: 'libxext',
  libXfixes: 'libxfixes', libXdamage: 'libxdamage', libXrandr: 'libxrandr', libXcursor: 'libxcursor', libXtst: 'libxtst',
};

/** What CMake's output says is missing: [{ library, package }]. */
function packagesFor(cmakeOutput) {
  const found = [];
  const add = (library) => {
    if (devPackageOf[library] && !found.some((f) => f.library === library)) found.push({ library, package: devPackageOf[library] });
  };
  // pkg-config says "No package 'x' found", pkgconf "Package 'x', required by ..., not found";
  // CMake then lists them all under "The following required packages were not found:".
  for (const m of cmakeOutput.matchAll(/No package '([^']+)' found|Package '([^']+)', required by .*not found/g)) add(m[1] || m[2]);
  const list = /required packages were not found:\n((?:.*\n?)*?)(?:\S|$)/.exec(cmakeOutput);
  if (list) for (const m of list[1].matchAll(/^\s*- (\S+)/gm)) add(m[1]);
  for (const m of cmakeOutput.matchAll(/provided by\s+"([^"]+)"/g)) add(m[1]);
  for (const m of cmakeOutput.matchAll(/Could not find (\w+)_LIBRARY/gi)) add(m[1].toLowerCase());
  return found.sort((a, b) => a.library.localeCompare(b.library));
}

/** The package family of a missing shared object ("libspdlog.so.1.10" -> "libspdlog"), or null. */
function runtimeFamily(soname) {
  const stem = /^(lib[^.]+)\.so/.exec(soname);
  return stem && runtimeHint[stem[1]] ? runtimeHint[stem[1]] : null;
}

module.exports = { packagesFor, runtimeFamily, debianDevPackages, devPackageOf };
