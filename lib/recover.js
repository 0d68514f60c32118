'use strict';
// Finishing a recording whose process died: the add-on's own writers' finishing code makes the
// videos ordinary, mends the WAV headers and rebuilds the JSON files from the journal.
const { loadAddon } = require('./load-addon');

/**
 * Recovers the recording in `dir` and returns one entry per file found:
 * { file, status: 'unchanged' | 'recovered' | 'failed', seconds?, detail }.
 * A finished recording comes back all 'unchanged', its files untouched.
 */
function recover(dir) {
  if (typeof dir !== 'string') throw new TypeError('Expected a project directory as the first argument');
  return loadAddon().recoverProject(dir);
}

/** The report as a table, one line per file. */
function formatRecovery(entries) {
  if (!entries.length) return '(no recording files found)';
  const width = Math.max(...entries.map((e) => e.file.length));
  return entries.map((e) => {
    const seconds = e.seconds === undefined ? '' : `${e.seconds.toFixed(2)} s`;
    return `${e.file.padEnd(width)}  ${e.status.padEnd(9)}  ${seconds.padStart(9)}  ${e.detail}`.trimEnd();
  }).join('\n');
}

module.exports = { recover, formatRecovery };
