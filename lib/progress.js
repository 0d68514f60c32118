'use strict';
// Text for the live status of a recording: one redrawn line for a terminal, a plain line for logs.

function clock(ms) {
  const total = Math.max(0, ms) / 1000;
  const minutes = Math.floor(total / 60);
  return `${String(minutes).padStart(2, '0')}:${(total - minutes * 60).toFixed(1).padStart(4, '0')}`;
}

function decibels(peak) {
  return peak > 0 ? `${Math.max(-99, Math.round(20 * Math.log10(peak)))} dB` : '-inf dB';
}

// Eight cells covering -60..0 dBFS.
function meter(peak, cells = 8) {
  const db = peak > 0 ? 20 * Math.log10(peak) : -Infinity;
  const filled = Math.max(0, Math.min(cells, Math.round(((db + 60) / 60) * cells)));
  return `${'█'.repeat(filled)}${'░'.repeat(cells - filled)}`;
}

// Which tracks the recording asked for, from the start options.
function wantedTracks(start) {
  return {
    microphone: start.micIndex !== -1,
    systemAudio: start.systemAudioIndex !== -1,
    webcam: start.webcamIndex !== undefined && start.webcamIndex !== -1,
  };
}

function failureText(status) {
  return status.failures.length ? `  FAILED: ${status.failures.map((f) => f.track).join(', ')}` : '';
}

// The time in the files: the pauses left out.
const recordedMs = (status) => status.elapsedMs - (status.pausedMs || 0);

/** The live line: recorded time, screen rate, a level meter per audio track, input events. */
function liveLine(status, start) {
  const want = wantedTracks(start);
  const parts = [`${status.paused ? '❚❚ PAUSED' : '● REC'} ${clock(recordedMs(status))}`,
    `screen ${status.screen.samplesLastSecond}/s (${status.screen.samples})`];
  if (want.webcam) parts.push(`webcam ${status.webcam.samples}`);
  if (want.microphone) parts.push(`mic ${meter(status.microphone.peak)} ${decibels(status.microphone.peak).padStart(7)}`);
  if (want.systemAudio) parts.push(`system ${meter(status.systemAudio.peak)} ${decibels(status.systemAudio.peak).padStart(7)}`);
  parts.push(`input ${status.input.events}`);
  return parts.join('  ') + failureText(status);
}

/** The same figures as a plain line for a pipe or a CI log. */
function plainLine(status, start) {
  const want = wantedTracks(start);
  const parts = [`${status.paused ? 'paused' : 'recording'} ${clock(recordedMs(status))}`,
    `screen ${status.screen.samples} samples (${status.screen.samplesLastSecond}/s)`];
  if (want.webcam) parts.push(`webcam ${status.webcam.samples} samples`);
  if (want.microphone) parts.push(`mic ${status.microphone.frames} frames peak ${decibels(status.microphone.peak)}`);
  if (want.systemAudio) parts.push(`system ${status.systemAudio.frames} frames peak ${decibels(status.systemAudio.peak)}`);
  parts.push(`input ${status.input.events} events`);
  return parts.join(', ') + failureText(status);
}

module.exports = { liveLine, plainLine, meter, clock };
