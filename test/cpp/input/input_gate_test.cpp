// The dispatch procedure with synthetic libuiohook events: the 10 ms gate shared by every event
// kind, which list each mouse kind goes to, the run flags, and the record values.
#include <gtest/gtest.h>

#include <limits>

#include "input/input_records.h"
#include "run_flags.h"
#include "wall_clock.h"

namespace input_test {

uiohook_event mouseEvent(event_type type, int16_t x = 0, int16_t y = 0, uint16_t button = 0) {
    uiohook_event event{};
    event.type = type;
    event.data.mouse.x = x;
    event.data.mouse.y = y;
    event.data.mouse.button = button;
    return event;
}

uiohook_event otherEvent(event_type type) {
    uiohook_event event{};
    event.type = type;
    return event;
}

class InputGate : public ::testing::Test {
protected:
    void SetUp() override {
        resetInputRecords();
        inputRunning = true;
        inputRecording = true;
    }
    void TearDown() override {
        inputRunning = false;
        inputRecording = false;
        resetInputRecords();
    }

    static constexpr int64_t t0 = 1'700'000'000'000;
};

TEST_F(InputGate, TheFirstEventOfARecordingAlwaysPasses) {
    handleInputEvent(mouseEvent(EVENT_MOUSE_MOVED, 5, 6), t0);
    ASSERT_EQ(positionRecords.size(), 1u);
    EXPECT_EQ(lastEventTime, t0);
}

TEST_F(InputGate, AnEventLessThan10MsAfterThePreviousOneIsDropped) {
    handleInputEvent(mouseEvent(EVENT_MOUSE_PRESSED, 1, 1, 1), t0);
    handleInputEvent(mouseEvent(EVENT_MOUSE_MOVED, 2, 2), t0 + 4);
    handleInputEvent(mouseEvent(EVENT_MOUSE_MOVED, 3, 3), t0 + 9);
    EXPECT_TRUE(positionRecords.empty());
    EXPECT_EQ(lastEventTime, t0);  // dropped events do not move the gate

    handleInputEvent(mouseEvent(EVENT_MOUSE_MOVED, 4, 4), t0 + 10);
    ASSERT_EQ(positionRecords.size(), 1u);
    EXPECT_EQ(positionRecords[0].x, 4);
    EXPECT_EQ(positionRecords[0].time, t0 + 10);
    EXPECT_EQ(lastEventTime, t0 + 10);
}

TEST_F(InputGate, AClockSetBackDoesNotShutTheGate) {
    handleInputEvent(mouseEvent(EVENT_MOUSE_MOVED, 1, 1), t0);
    handleInputEvent(mouseEvent(EVENT_MOUSE_MOVED, 2, 2), t0 - 3'600'000);  // clock stepped back an hour
    handleInputEvent(mouseEvent(EVENT_MOUSE_MOVED, 3, 3), t0 - 3'600'000 + 4);
    handleInputEvent(mouseEvent(EVENT_MOUSE_MOVED, 4, 4), t0 - 3'600'000 + 10);
    ASSERT_EQ(positionRecords.size(), 3u);
    EXPECT_EQ(positionRecords[1].x, 2);
    EXPECT_EQ(positionRecords[2].x, 4);
}

TEST_F(InputGate, EveryEventKindSharesTheGate) {
    // A key press adds no record but opens a new window that swallows a click 5 ms later.
    handleInputEvent(otherEvent(EVENT_KEY_PRESSED), t0);
    handleInputEvent(mouseEvent(EVENT_MOUSE_PRESSED, 10, 10, 1), t0 + 5);
    EXPECT_TRUE(clickRecords.empty());
    EXPECT_EQ(lastEventTime, t0);

    for (event_type type : {EVENT_HOOK_ENABLED, EVENT_HOOK_DISABLED, EVENT_KEY_TYPED, EVENT_KEY_RELEASED,
                            EVENT_MOUSE_CLICKED, EVENT_MOUSE_WHEEL}) {
        const int64_t now = lastEventTime + inputGateMillis;
        handleInputEvent(otherEvent(type), now);
        EXPECT_EQ(lastEventTime, now) << "type " << type;
    }
    EXPECT_TRUE(clickRecords.empty());
    EXPECT_TRUE(positionRecords.empty());
}

TEST_F(InputGate, EachMouseKindGoesToItsListWithItsType) {
    handleInputEvent(mouseEvent(EVENT_MOUSE_PRESSED, 1, 2, 1), t0);
    handleInputEvent(mouseEvent(EVENT_MOUSE_DRAGGED, 3, 4), t0 + 10);
    handleInputEvent(mouseEvent(EVENT_MOUSE_RELEASED, 5, 6, 1), t0 + 20);
    handleInputEvent(mouseEvent(EVENT_MOUSE_CLICKED, 5, 6, 1), t0 + 30);  // summary: no record
    handleInputEvent(mouseEvent(EVENT_MOUSE_MOVED, 7, 8), t0 + 40);

    ASSERT_EQ(clickRecords.size(), 2u);
    EXPECT_EQ(clickRecords[0].type, 0);
    EXPECT_EQ(clickRecords[0].x, 1);
    EXPECT_EQ(clickRecords[1].type, 1);
    EXPECT_EQ(clickRecords[1].x, 5);
    EXPECT_EQ(clickRecords[1].time, t0 + 20);

    ASSERT_EQ(positionRecords.size(), 2u);
    EXPECT_EQ(positionRecords[0].type, 1);
    EXPECT_EQ(positionRecords[0].y, 4);
    EXPECT_EQ(positionRecords[1].type, 0);
    EXPECT_EQ(positionRecords[1].y, 8);
}

TEST_F(InputGate, CoordinatesAreSignExtendedAndButtonsZeroExtended) {
    handleInputEvent(mouseEvent(EVENT_MOUSE_PRESSED, -1920, -5, 0xFFFF), t0);
    handleInputEvent(mouseEvent(EVENT_MOUSE_MOVED, std::numeric_limits<int16_t>::min(),
                                std::numeric_limits<int16_t>::max()),
                     t0 + 10);
    ASSERT_EQ(clickRecords.size(), 1u);
    EXPECT_EQ(clickRecords[0].x, -1920);
    EXPECT_EQ(clickRecords[0].y, -5);
    EXPECT_EQ(clickRecords[0].button, 65535);
    ASSERT_EQ(positionRecords.size(), 1u);
    EXPECT_EQ(positionRecords[0].x, -32768);
    EXPECT_EQ(positionRecords[0].y, 32767);
}

TEST_F(InputGate, NothingChangesWhileTheHookIsNotRunning) {
    inputRunning = false;
    handleInputEvent(mouseEvent(EVENT_MOUSE_PRESSED, 1, 1, 1), t0);
    uiohook_event press = mouseEvent(EVENT_MOUSE_PRESSED, 1, 1, 1);
    inputDispatchProc(&press);
    EXPECT_TRUE(clickRecords.empty());
    EXPECT_EQ(lastEventTime, 0);
}

TEST_F(InputGate, EventsWhileNotRecordingMoveTheGateButAreNotStored) {
    inputRecording = false;
    handleInputEvent(mouseEvent(EVENT_MOUSE_PRESSED, 1, 1, 1), t0);
    EXPECT_TRUE(clickRecords.empty());
    EXPECT_EQ(lastEventTime, t0);

    inputRecording = true;
    handleInputEvent(mouseEvent(EVENT_MOUSE_PRESSED, 1, 1, 1), t0 + 5);
    EXPECT_TRUE(clickRecords.empty());
    handleInputEvent(mouseEvent(EVENT_MOUSE_PRESSED, 1, 1, 1), t0 + 10);
    EXPECT_EQ(clickRecords.size(), 1u);
}

TEST_F(InputGate, TheDispatchProcedureStampsWallClockMilliseconds) {
    const int64_t before = wallClockMillis();
    uiohook_event move = mouseEvent(EVENT_MOUSE_MOVED, 3, 4);
    move.time = 42;  // libuiohook's own time stamp is not used
    inputDispatchProc(&move);
    const int64_t after = wallClockMillis();
    ASSERT_EQ(positionRecords.size(), 1u);
    EXPECT_GE(positionRecords[0].time, before);
    EXPECT_LE(positionRecords[0].time, after);
    // No cursor source is open outside a recording.
    EXPECT_EQ(positionRecords[0].cursorName, "Unknown");
}

TEST_F(InputGate, ResetEmptiesTheListsAndReopensTheGate) {
    handleInputEvent(mouseEvent(EVENT_MOUSE_MOVED), t0);
    handleInputEvent(mouseEvent(EVENT_MOUSE_PRESSED), t0 + 10);
    resetInputRecords();
    EXPECT_TRUE(positionRecords.empty());
    EXPECT_TRUE(clickRecords.empty());
    EXPECT_EQ(lastEventTime, 0);
    handleInputEvent(mouseEvent(EVENT_MOUSE_MOVED), t0 + 11);
    EXPECT_EQ(positionRecords.size(), 1u);
}

TEST(InputRecordJson, ListsRecordsWithSortedKeysAndFourSpaces) {
    const std::vector<InputRecord> records = {
        {-3, 20, 1, 2, "Hand", 1700000000123},
        {4, 5, 0, 0, "Unknown", 1700000000200},
    };
    EXPECT_EQ(recordListJson(records),
              "[\n"
              "    {\n"
              "        \"button\": 2,\n"
              "        \"cursorName\": \"Hand\",\n"
              "        \"time\": 1700000000123,\n"
              "        \"type\": 1,\n"
              "        \"x\": -3,\n"
              "        \"y\": 20\n"
              "    },\n"
              "    {\n"
              "        \"button\": 0,\n"
              "        \"cursorName\": \"Unknown\",\n"
              "        \"time\": 1700000000200,\n"
              "        \"type\": 0,\n"
              "        \"x\": 4,\n"
              "        \"y\": 5\n"
              "    }\n"
              "]");
}

TEST(InputRecordJson, AnEmptyListIsTwoBrackets) { EXPECT_EQ(recordListJson({}), "[]"); }

}  // namespace input_test
