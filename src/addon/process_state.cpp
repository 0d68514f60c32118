#include "recording_state.h"
#include "run_flags.h"
#include "screen_figures.h"

namespace {

// At namespace scope, so that the references below are bound before any code runs.
RecordingState state;

}  // namespace

RecordingState& processRecordingState() { return state; }

// The names every recorder knows, as views into the one state.
RecordingStatus& recordingStatus = state.status;

std::atomic<bool>& screenRunning = state.flags.screenRunning;
std::atomic<bool>& screenRecording = state.flags.screenRecording;
std::atomic<bool>& webcamRunning = state.flags.webcamRunning;
std::atomic<bool>& micRunning = state.flags.micRunning;
std::atomic<bool>& playbackRunning = state.flags.playbackRunning;
std::atomic<bool>& silentRunning = state.flags.silentRunning;
std::atomic<bool>& silentFeeding = state.flags.silentFeeding;
std::atomic<bool>& inputRunning = state.flags.inputRunning;
std::atomic<bool>& inputRecording = state.flags.inputRecording;

uint32_t& VIDEO_FPS = state.figures.fps;
uint32_t& VIDEO_BIT_RATE = state.figures.bitRate;
uint32_t& VIDEO_WIDTH = state.figures.width;
uint32_t& VIDEO_HEIGHT = state.figures.height;
CaptureArea& recordedArea = state.figures.area;
int64_t& recordingStartTime = state.figures.startTime;

void RunFlags::setAll(bool value) {
    inputRunning.exchange(value);
    inputRecording.exchange(value);
    screenRunning.exchange(value);
    screenRecording.exchange(value);
    playbackRunning.exchange(value);
    micRunning.exchange(value);
    silentRunning.exchange(value);
    silentFeeding.exchange(value);
    webcamRunning.exchange(value);
}

void setAllRunFlags(bool value) { state.flags.setAll(value); }
