#include "platform/thread_dpi.h"

// X11 has no per-thread scaling: every client sees the server's pixels.
PhysicalPixelsOnThisThread::PhysicalPixelsOnThisThread() : obtained(Awareness::perMonitorV2) {}

PhysicalPixelsOnThisThread::~PhysicalPixelsOnThisThread() = default;
