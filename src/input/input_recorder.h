#pragma once

#include <string>
#include <thread>

#include "platform/input_hook_library.h"
#include "recording_settings.h"

// Thread function of the input track: runs the global input hook until it is stopped, then
// writes positions.json, clicks.json and cursor_info.json.
void runInputRecorder(RecordingSettings settings);

// Asks the hook's event loop to end (called first thing by recording end).
void requestInputStop();

// Waits for the input thread to return, repeating the stop request while it runs.
void joinInputRecorder(std::thread& inputThread);

// The thread's work with a given hook library; `library` is null when it could not be loaded,
// and `loadError` then says why.
void recordInput(const RecordingSettings& settings, const InputHookLibrary* library, const std::string& loadError);
