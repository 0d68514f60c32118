#include "input/input_recorder.h"

#include <spdlog/spdlog.h>

#include "input/cursor_catalogue.h"
#include "input/cursor_image_recorder.h"
#include "input/hook_lifecycle.h"
#include "input/input_records.h"
#include "input/text_file.h"
#include "recording_status.h"
#include "run_flags.h"
#include "wall_clock.h"

namespace {

std::string hookFailureReason(int status) {
    switch (status) {
        case UIOHOOK_ERROR_OUT_OF_MEMORY: return "out of memory";
        case UIOHOOK_ERROR_X_OPEN_DISPLAY: return "cannot open the X display; is DISPLAY set?";
        case UIOHOOK_ERROR_X_RECORD_NOT_FOUND: return "the X server has no RECORD extension";
        case UIOHOOK_ERROR_SET_WINDOWS_HOOK_EX: return "SetWindowsHookEx failed";
        default: return fmt::format("status 0x{:X}", status);
    }
}

// Users need to know why their input track is empty; this is the input track's only log line.
void logHookFailure(const RecordingSettings& settings, const std::string& reason) {
    if (settings.logger) {
        settings.logger->error("input: the input hook could not start ({}); positions.json and clicks.json stay empty",
                               reason);
    }
}

// Runs the hook on this thread until recording end stops it.
void runHook(const RecordingSettings& settings, const InputHookLibrary& library) {
    inputHook.starting(library);
    library.setDispatchProc(inputDispatchProc);
    const int status = library.run();
    if (status != UIOHOOK_SUCCESS && !inputHook.wasEnabled()) logHookFailure(settings, hookFailureReason(status));
}

}  // namespace

void recordInput(const RecordingSettings& settings, const InputHookLibrary* library, const std::string& loadError) {
    setTrackDevice("input", "libuiohook global input hook");
    captureCursorShapes();
    if (settings.journal) journalCursorShapes(*settings.journal);
    inputJournal = settings.journal;
    CursorImageRecorder cursorImages(settings);
    if (library == nullptr) {
        logHookFailure(settings, loadError);
    } else if (inputRunning.load()) {
        // A recording that has already ended by now never gets a hook.
        runHook(settings, *library);
    }
    inputHook.returned();
    cursorImages.finish();
    const int64_t hookStart = recordingStatus.inputTiming.startTicks.load();
    if (hookStart != 0) markTrackEnd(recordingStatus.inputTiming, wallClockTicks() - hookStart);

    std::string reason;
    const auto logUnwritten = [&](const char* name) {
        if (settings.logger) settings.logger->error("input: {} could not be written ({})", name, reason);
    };
    if (!writeTextFile(settings.projectDir / "positions.json", recordListJson(positionRecords), &reason)) {
        logUnwritten("positions.json");
    }
    if (!writeTextFile(settings.projectDir / "clicks.json", recordListJson(clickRecords), &reason)) logUnwritten("clicks.json");
    if (!writeCursorInfo(settings.projectDir / "cursor_info.json", reason)) logUnwritten("cursor_info.json");

    resetInputRecords();
    clearCursorShapes();
}

void runInputRecorder(RecordingSettings settings) {
    std::string loadError;
    const InputHookLibrary* library = loadInputHookLibrary(loadError);
    recordInput(settings, library, loadError);
}

void requestInputStop() { inputHook.requestStop(); }

void joinInputRecorder(std::thread& inputThread) {
    if (!inputThread.joinable()) return;
    inputHook.waitUntilReturned();
    inputThread.join();
    inputHook.reset();
}
