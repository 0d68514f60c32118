#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <uiohook.h>

// One mouse event of the input track: 32 bytes, nothing to allocate.
struct InputRecord {
    int32_t x;
    int32_t y;
    int32_t type;    // 0 press or move, 1 release or drag
    int32_t button;  // as libuiohook delivers it
    const char* cursorName;  // a standard name or "Unknown": text that lives as long as the program
    int64_t time;  // wall-clock ms since 1970-01-01 UTC when the event was handled
};

class InputRecordQueue;

// Moves and drags closer than this to the last move or drag that passed are dropped; presses and
// releases always pass.
constexpr int64_t inputGateMillis = 10;

// The recording's records and gate. The hook (on the input thread) passes records through the
// gate into `inputQueue`; the record writer fills the lists from it; the input thread writes
// them out once the writer has stopped, and resets them.
extern std::vector<InputRecord> positionRecords;  // moves and drags
extern std::vector<InputRecord> clickRecords;     // presses and releases
extern int64_t lastEventTime;  // of the last move or drag that passed the gate
extern InputRecordQueue* inputQueue;  // where kept records go; none outside a recording's hook

// libuiohook's dispatch procedure: every event of the desktop arrives here.
void inputDispatchProc(uiohook_event* const event);

// The dispatch procedure's work for an event handled at `now` (wall-clock ms).
void handleInputEvent(const uiohook_event& event, int64_t now);

// Empties both lists and reopens the gate for the next recording.
void resetInputRecords();

// positions.json / clicks.json text: one object per record with sorted keys, indent 4, "[]"
// for an empty list.
std::string recordListJson(const std::vector<InputRecord>& records);
