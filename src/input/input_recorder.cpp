#include "input/input_recorder.h"

void runInputRecorder(RecordingSettings) {}
void requestInputStop() {}
void joinInputRecorder(std::thread& inputThread) {
    if (inputThread.joinable()) inputThread.join();
}
