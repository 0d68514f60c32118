#include "input/input_records.h"

#include "input/cursor_catalogue.h"
#include "input/hook_lifecycle.h"
#include "input/input_record_queue.h"
#include "input/input_record_text.h"
#include "recording_status.h"
#include "run_flags.h"
#include "wall_clock.h"

std::vector<InputRecord> positionRecords;
std::vector<InputRecord> clickRecords;
int64_t lastEventTime = 0;
InputRecordQueue* inputQueue = nullptr;

namespace {

struct EventKind {
    bool click;
    int32_t type;
};

// The four mouse kinds that make records; every other event is ignored.
bool mouseEventKind(int eventType, EventKind& kind) {
    switch (eventType) {
        case EVENT_MOUSE_PRESSED: kind = {true, 0}; return true;
        case EVENT_MOUSE_RELEASED: kind = {true, 1}; return true;
        case EVENT_MOUSE_MOVED: kind = {false, 0}; return true;
        case EVENT_MOUSE_DRAGGED: kind = {false, 1}; return true;
        default: return false;
    }
}

}  // namespace

void inputDispatchProc(uiohook_event* const event) {
    if (event == nullptr) return;
    if (event->type == EVENT_HOOK_ENABLED) inputHook.enabled();
    if (event->type == EVENT_HOOK_DISABLED) inputHook.disabled();
    if (!inputRunning.load()) return;
    handleInputEvent(*event, wallClockMillis());
}

// Runs inside the system's input hook: a few comparisons, the cursor query and a queue slot; no
// lock, no allocation, no file.
void handleInputEvent(const uiohook_event& event, int64_t now) {
    if (!inputRunning.load()) return;
    EventKind kind{};
    if (!mouseEventKind(event.type, kind)) return;
    // Only moves and drags are thinned, and only they close the gate: every press and release is
    // kept, or an editor would see a drag that never ends.
    if (!kind.click) {
        // A wall clock set back during the recording must not shut the gate until it catches up.
        const int64_t sinceLast = now - lastEventTime;
        if (sinceLast >= 0 && sinceLast < inputGateMillis) {
            if (inputRecording.load()) countGatedInputEvent();
            return;
        }
        lastEventTime = now;
    }
    if (!inputRecording.load() || recordingPaused() || inputQueue == nullptr) return;
    // Asked only for events that are kept: the answer is the same a few microseconds earlier,
    // and the gate drops most events of a fast mouse.
    const QueuedInputRecord queued{{static_cast<int32_t>(event.data.mouse.x), static_cast<int32_t>(event.data.mouse.y), kind.type,
                                    static_cast<int32_t>(event.data.mouse.button), currentCursorName(), now},
                                   kind.click};
    if (inputQueue->push(queued)) countInputEvent();
}

void resetInputRecords() {
    std::vector<InputRecord>().swap(positionRecords);
    std::vector<InputRecord>().swap(clickRecords);
    lastEventTime = 0;
}

std::string recordListJson(const std::vector<InputRecord>& records) {
    std::string text;
    for (size_t i = 0; i < records.size(); ++i) appendRecordListElement(text, records[i], i);
    finishRecordList(text, records.size());
    return text;
}
