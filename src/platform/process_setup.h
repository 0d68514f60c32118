#pragma once

// Readies the process for recorder threads that each talk to the windowing system: called once,
// on the JavaScript thread, before any recorder thread exists.
void prepareProcessForRecorderThreads();
