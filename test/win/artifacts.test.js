'use strict';
// The cross-built files as a Windows machine would load them: the add-on and the hook library
// need only DLLs every Windows has, Node-API comes only through the delay-load path (bound to the
// host process, whatever its name), and Media Foundation is not needed to load at all.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { readPe } = require('./helpers/pe');
const { buildDir, addon } = require('./helpers/wine');

const system32 = path.join(process.env.WINEPREFIX || path.join(buildDir, 'wineprefix'), 'drive_c', 'windows', 'system32');
const systemDlls = new Set(fs.readdirSync(system32).map((name) => name.toLowerCase()));
const mediaDlls = ['mfplat.dll', 'mfreadwrite.dll', 'mf.dll'];

// "Every Windows has it": in Wine's system32 and not one of the libraries that a Windows edition
// may lack or that mingw-w64 would otherwise ship as DLLs.
function assertOnlySystemImports(file) {
  for (const dll of Object.keys(readPe(file).imports)) {
    const name = dll.toLowerCase();
    assert.doesNotMatch(name, /^(lib(stdc\+\+|gcc|winpthread)|node\.exe)/, `${path.basename(file)} imports ${dll}`);
    assert.ok(!mediaDlls.includes(name), `${path.basename(file)} needs ${dll} at load time`);
    assert.ok(systemDlls.has(name), `${path.basename(file)} imports ${dll}, which is no system DLL`);
  }
}

test('desktracks.node imports only system DLLs at load time', () => {
  assertOnlySystemImports(addon);
});

// Only RVA-based descriptors are found, the only kind mingw-w64's helper takes.
test('Node-API and Media Foundation come only through RVA-based delay imports', () => {
  const { imports, delayImports, exports } = readPe(addon);
  const napiAtLoad = Object.values(imports).flat().filter((name) => /^napi_|^node_api_/.test(name));
  assert.deepEqual(napiAtLoad, []);
  const delayed = Object.keys(delayImports).map((name) => name.toLowerCase());
  assert.ok(delayed.includes('node.exe'), `delay-imported: ${delayed}`);
  assert.ok(delayImports[Object.keys(delayImports).find((n) => n.toLowerCase() === 'node.exe')].includes('napi_define_class'));
  for (const dll of delayed) assert.ok(dll === 'node.exe' || mediaDlls.includes(dll), `${dll} is delay-loaded`);
  assert.ok(delayed.includes('mfplat.dll') && delayed.includes('mfreadwrite.dll'), `delay-imported: ${delayed}`);
  assert.deepEqual(exports.sort(), ['napi_register_module_v1', 'node_api_module_get_api_version_v1']);
});

test('uiohook.dll exports what the hook loader binds and imports only system DLLs', () => {
  const dll = path.join(path.dirname(addon), 'uiohook.dll');
  const { exports } = readPe(dll);
  for (const name of ['hook_set_dispatch_proc', 'hook_run', 'hook_stop']) assert.ok(exports.includes(name), name);
  assertOnlySystemImports(dll);
});

test('the Windows unit-test programs run on any Windows (no compiler DLLs)', () => {
  const tests = fs.readdirSync(path.join(buildDir, 'tests')).filter((name) => name.endsWith('.exe'));
  assert.ok(tests.length >= 4, `${tests}`);
  for (const name of tests) assertOnlySystemImports(path.join(buildDir, 'tests', name));
});
