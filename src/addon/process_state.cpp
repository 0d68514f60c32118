#include "run_flags.h"
#include "screen_figures.h"

std::atomic<bool> screenRunning{true};
std::atomic<bool> screenRecording{false};
std::atomic<bool> webcamRunning{true};
std::atomic<bool> micRunning{false};
std::atomic<bool> playbackRunning{false};
std::atomic<bool> silentRunning{false};
std::atomic<bool> silentFeeding{false};
std::atomic<bool> inputRunning{false};
std::atomic<bool> inputRecording{false};

uint32_t VIDEO_FPS = 30;
uint32_t VIDEO_BIT_RATE = 18000000;
uint32_t VIDEO_WIDTH = 0;
uint32_t VIDEO_HEIGHT = 0;
CaptureArea recordedArea;
int64_t recordingStartTime = 0;

void setAllRunFlags(bool value) {
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
