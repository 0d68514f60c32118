'use strict';
// Windows with known cursors (input-helpers/cursor_windows.c), built once per process.
const path = require('path');
const { spawn, execFileSync } = require('child_process');
const { tempDir } = require('./project');

let binary;

/** Maps one window per "x,y,w,h,cursor" spec; resolves once they are up, closed after the test `t`. */
async function showCursorWindows(t, specs) {
  if (!binary) {
    binary = path.join(tempDir('desktracks-cursor-windows-'), 'cursor_windows');
    execFileSync('cc', ['-o', binary, path.join(__dirname, '..', 'input-helpers', 'cursor_windows.c'), '-lXcursor', '-lX11']);
  }
  const windows = spawn(binary, specs);
  t.after(() => windows.kill());
  await new Promise((resolve, reject) => {
    windows.stdout.on('data', (data) => String(data).includes('ready') && resolve());
    windows.on('exit', (code) => reject(new Error(`the cursor window helper exited with ${code}`)));
  });
}

module.exports = { showCursorWindows };
