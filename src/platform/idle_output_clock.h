#pragma once

#include "miniaudio.h"

// A virtual output that nobody plays to at low latency (a PulseAudio null sink, as on headless
// and virtual machines, remote desktops and streaming set-ups) renders ahead in blocks of up to
// two seconds and only then notices a new listener: a capture of it would start up to two seconds
// late. When `device` (an initialised capture device) listens to such an output, directly or
// through a virtual source stacked on its monitor, its clock is restarted so that it delivers in
// the capture's short blocks from now on. Does nothing elsewhere.
void restartIdleOutputClock(const ma_device& device);
