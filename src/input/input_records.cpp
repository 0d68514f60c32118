#include "input/input_records.h"

#include <nlohmann/json.hpp>

#include "input/cursor_catalogue.h"
#include "input/hook_lifecycle.h"
#include "recording_journal.h"
#include "recording_status.h"
#include "run_flags.h"
#include "wall_clock.h"

std::vector<InputRecord> positionRecords;
std::vector<InputRecord> clickRecords;
int64_t lastEventTime = 0;
std::shared_ptr<RecordingJournal> inputJournal;

namespace {

struct EventKind {
    std::vector<InputRecord>* list;
    int32_t type;
};

nlohmann::json recordObject(const InputRecord& record) {
    return {{"button", record.button}, {"cursorName", record.cursorName}, {"time", record.time},
            {"type", record.type},     {"x", record.x},                   {"y", record.y}};
}

InputRecord recordFromObject(const nlohmann::json& object) {
    return {object.value("x", 0),    object.value("y", 0),
            object.value("type", 0), object.value("button", 0),
            object.value("cursorName", std::string(unknownCursorName)), object.value("time", int64_t{0})};
}

// The four mouse kinds that make records; every other event is ignored.
bool mouseEventKind(int eventType, EventKind& kind) {
    switch (eventType) {
        case EVENT_MOUSE_PRESSED: kind = {&clickRecords, 0}; return true;
        case EVENT_MOUSE_RELEASED: kind = {&clickRecords, 1}; return true;
        case EVENT_MOUSE_MOVED: kind = {&positionRecords, 0}; return true;
        case EVENT_MOUSE_DRAGGED: kind = {&positionRecords, 1}; return true;
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

void handleInputEvent(const uiohook_event& event, int64_t now) {
    if (!inputRunning.load()) return;
    EventKind kind{};
    if (!mouseEventKind(event.type, kind)) return;
    // Only moves and drags are thinned, and only they close the gate: every press and release is
    // kept, or an editor would see a drag that never ends.
    if (kind.list == &positionRecords) {
        // A wall clock set back during the recording must not shut the gate until it catches up.
        const int64_t sinceLast = now - lastEventTime;
        if (sinceLast >= 0 && sinceLast < inputGateMillis) {
            if (inputRecording.load()) countGatedInputEvent();
            return;
        }
        lastEventTime = now;
    }
    if (!inputRecording.load() || recordingPaused()) return;
    // Asked only for events that are kept: the answer is the same a few microseconds earlier,
    // and the gate drops most events of a fast mouse.
    kind.list->push_back({static_cast<int32_t>(event.data.mouse.x), static_cast<int32_t>(event.data.mouse.y),
                          kind.type, static_cast<int32_t>(event.data.mouse.button), currentCursorName(), now});
    countInputEvent();
    if (inputJournal) {
        nlohmann::json line = recordObject(kind.list->back());
        line["kind"] = kind.list == &positionRecords ? "position" : "click";
        inputJournal->append(line.dump());
    }
}

void resetInputRecords() {
    std::vector<InputRecord>().swap(positionRecords);
    std::vector<InputRecord>().swap(clickRecords);
    lastEventTime = 0;
    inputJournal.reset();
}

std::string recordListJson(const std::vector<InputRecord>& records) {
    nlohmann::json list = nlohmann::json::array();
    for (const InputRecord& record : records) {
        list.push_back(recordObject(record));
    }
    return list.dump(4);
}

InputJournalFiles inputFilesFromJournal(const std::string& journal) {
    std::vector<InputRecord> positions;
    std::vector<InputRecord> clicks;
    for (const nlohmann::json& entry : journalEntries(journal, "position")) positions.push_back(recordFromObject(entry));
    for (const nlohmann::json& entry : journalEntries(journal, "click")) clicks.push_back(recordFromObject(entry));
    return {recordListJson(positions), recordListJson(clicks), positions.size(), clicks.size()};
}
