'use strict';
// The npm package: packed with its prebuilds and nothing of the test, benchmark or build trees,
// installed into an empty project on a PATH with no compiler, loaded and used to record.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { execFileSync, spawnSync } = require('child_process');
const { tempDir, repoRoot } = require('./helpers/project');
const { useTestServices } = require('./helpers/services');

useTestServices();

const npmCli = path.join(path.dirname(process.execPath), '..', 'lib', 'node_modules', 'npm', 'bin', 'npm-cli.js');

test('the packed package installs and records without build tools', async (t) => {
  const work = tempDir('desktracks-package-');
  const tarball = path.join(work, execFileSync(process.execPath, [npmCli, 'pack', '--silent', '--pack-destination', work],
    { cwd: repoRoot, encoding: 'utf8' }).trim().split('\n').pop());

  await t.test('holds the prebuilds and no tests, benchmarks or build trees', () => {
    const files = execFileSync('tar', ['-tzf', tarball], { encoding: 'utf8' }).trim().split('\n').map((f) => f.replace(/^package\//, ''));
    const wanted = ['prebuilds/linux-x64/desktracks.node', 'prebuilds/linux-x64/libuiohook.so', 'prebuilds/win32-x64/desktracks.node',
      'prebuilds/win32-x64/uiohook.dll', 'bin/desktracks.js', 'lib/index.js', 'lib/index.d.ts'];
    assert.deepEqual(wanted.filter((f) => !files.includes(f)), [], 'missing');
    assert.deepEqual(files.filter((f) => /^(test|bench|build|build-win|third_party|node_modules|recordings)\//.test(f)), []);
  });

  // Only node and sh on the PATH: no cc, c++, make, cmake or python.
  const bare = path.join(work, 'bin');
  fs.mkdirSync(bare);
  fs.symlinkSync(process.execPath, path.join(bare, 'node'));
  fs.symlinkSync('/bin/sh', path.join(bare, 'sh'));  // npm runs the install script through it
  const env = { ...process.env, PATH: bare };
  const project = path.join(work, 'app');
  fs.mkdirSync(project);
  fs.writeFileSync(path.join(project, 'package.json'), JSON.stringify({ name: 'app', version: '1.0.0', private: true }));

  await t.test('installs into an empty project with no compiler on the PATH', () => {
    for (const tool of ['cc', 'gcc', 'c++', 'make', 'cmake', 'python3']) {
      assert.notEqual(spawnSync('/bin/sh', ['-c', `command -v ${tool}`], { env }).status, 0, `${tool} is reachable`);
    }
    const installed = spawnSync(process.execPath, [npmCli, 'install', '--no-audit', '--no-fund', tarball],
      { cwd: project, env, encoding: 'utf8', timeout: 300000 });
    assert.equal(installed.status, 0, installed.stderr);
  });

  await t.test('loads from its prebuild and records one second', () => {
    const script = `
      const { Recorder, getStatus } = require('desktracks');
      const recorder = new Recorder();
      recorder.start({ projectDir: 'take', systemAudioIndex: -1, micIndex: -1 });
      const until = Date.now() + 1000;
      while (Date.now() < until);
      recorder.end();
      console.log(JSON.stringify({ resolved: require.resolve('desktracks'), status: getStatus() }));`;
    const ran = spawnSync(process.execPath, ['-e', script], { cwd: project, env, encoding: 'utf8', timeout: 60000 });
    assert.equal(ran.status, 0, ran.stderr);
    const result = JSON.parse(ran.stdout.trim().split('\n').pop());
    assert.ok(result.resolved.startsWith(path.join(project, 'node_modules', 'desktracks')));
    assert.ok(result.status.screen.samples > 0 && result.status.failures.length === 0, JSON.stringify(result.status));
    const probe = execFileSync('ffprobe', ['-v', 'error', '-show_entries', 'stream=codec_name', '-of', 'csv=p=0',
      path.join(project, 'take', 'output.mp4')], { encoding: 'utf8' });
    assert.equal(probe.trim(), 'h264');
  });

  await t.test('its command inspects the recording', () => {
    const ran = spawnSync(path.join(bare, 'node'), [path.join(project, 'node_modules', '.bin', 'desktracks'), 'inspect', 'take'],
      { cwd: project, env, encoding: 'utf8', timeout: 60000 });
    assert.equal(ran.status, 0, ran.stderr + ran.stdout);
    assert.ok(fs.existsSync(path.join(project, 'take', 'overview.png')));
  });
});

test('when no binary loads, the error lists every path tried and what to do', () => {
  const { loadAddon } = require('../../lib/load-addon');
  const dir = tempDir();
  const notElf = path.join(dir, 'desktracks.node');
  fs.writeFileSync(notElf, 'not a shared object');
  const missing = path.join(dir, 'missing', 'desktracks.node');
  assert.throws(() => loadAddon([notElf, missing]), (err) => {
    assert.match(err.message, new RegExp(`Tried:\\n  ${notElf}: .+\\n  ${missing}: not found\\n`));
    assert.match(err.message, /Possible solutions:\n  - .*DESKTRACKS_ADDON_PATH/);
    return true;
  });
});
