// The dispatch procedure with synthetic events: the 10 ms gate on moves and drags, presses and
// releases that always pass, the list and type of each mouse kind, and the run flags. (The JSON
// text: input_record_writer_test.cpp.)
#include <gtest/gtest.h>

#include <tuple>

#include "input/input_record_writer.h"
#include "input/input_records.h"
#include "run_flags.h"
#include "wall_clock.h"

namespace input_test {

uiohook_event event(event_type type, int16_t x = 0, int16_t y = 0, uint16_t button = 0) {
    uiohook_event e{type};
    e.data.mouse = {button, 0, x, y};
    return e;
}

std::tuple<int, int, int, int> fields(const InputRecord& r) { return {r.type, r.x, r.y, r.button}; }

class InputGate : public ::testing::Test {
protected:
    void SetUp() override {
        resetInputRecords();
        inputRunning = inputRecording = true;
        inputQueue = &writer.queue();
    }
    void TearDown() override {
        inputRunning = inputRecording = false;
        inputQueue = nullptr;
        resetInputRecords();
    }
    // The records reach the lists through the writer.
    void drained() { writer.drain(); }
    InputRecordWriter writer{nullptr, nullptr};
    static constexpr int64_t t0 = 1'700'000'000'000;
};

TEST_F(InputGate, MovesAndDragsWithin10MsOfTheLastPassingOneAreDropped) {
    handleInputEvent(event(EVENT_MOUSE_MOVED, 1, 1), t0);  // the first always passes
    handleInputEvent(event(EVENT_MOUSE_DRAGGED, 2, 2), t0 + 4);
    handleInputEvent(event(EVENT_MOUSE_MOVED, 3, 3), t0 + 9);  // dropped events do not move the gate
    handleInputEvent(event(EVENT_MOUSE_DRAGGED, 4, 4), t0 + 10);
    handleInputEvent(event(EVENT_MOUSE_MOVED, 5, 5), t0 - 3'600'000);  // a clock set back an hour
    drained();
    std::vector<int64_t> passed;
    for (const InputRecord& record : positionRecords) passed.push_back(record.time);
    EXPECT_EQ(passed, (std::vector<int64_t>{t0, t0 + 10, t0 - 3'600'000}));
}

TEST_F(InputGate, EveryPressAndReleasePassesWhateverComesBetween) {
    // Pairs 0 to 15 ms apart, each after a move, with key, wheel and click-summary events around them.
    int64_t now = t0;
    for (int64_t gap = 0; gap <= 15; ++gap, now += 100) {
        handleInputEvent(event(EVENT_MOUSE_MOVED, 1, 1), now);
        handleInputEvent(event(EVENT_KEY_PRESSED), now);
        handleInputEvent(event(EVENT_MOUSE_PRESSED, 10, 10, 1), now + gap / 3);
        handleInputEvent(event(EVENT_MOUSE_WHEEL), now + gap / 2);
        handleInputEvent(event(EVENT_KEY_RELEASED), now + gap / 2);
        handleInputEvent(event(EVENT_MOUSE_RELEASED, 10, 10, 1), now + gap);
        handleInputEvent(event(EVENT_MOUSE_CLICKED, 10, 10, 1), now + gap);
    }
    drained();
    ASSERT_EQ(clickRecords.size(), 32u);
    for (size_t i = 0; i < clickRecords.size(); i += 2) {
        const int64_t gap = static_cast<int64_t>(i / 2);
        EXPECT_EQ(clickRecords[i].type, 0);
        EXPECT_EQ(clickRecords[i + 1].type, 1);
        EXPECT_EQ(clickRecords[i + 1].time - clickRecords[i].time, gap - gap / 3) << "pair " << gap;
    }
    // Neither the clicks nor the other events closed the gate: every move 100 ms apart passed, and
    // a move right after a click passes too.
    EXPECT_EQ(positionRecords.size(), 16u);
    EXPECT_EQ(lastEventTime, now - 100);
    handleInputEvent(event(EVENT_MOUSE_MOVED, 2, 2), now - 100 + 16);
    drained();
    EXPECT_EQ(positionRecords.size(), 17u);
}

TEST_F(InputGate, EachMouseKindGoesToItsListWithItsTypeAndSignExtendedCoordinates) {
    handleInputEvent(event(EVENT_MOUSE_PRESSED, -1920, -5, 0xFFFF), t0);
    handleInputEvent(event(EVENT_MOUSE_DRAGGED, -32768, 32767), t0 + 10);
    handleInputEvent(event(EVENT_MOUSE_RELEASED, 5, 6, 1), t0 + 20);
    handleInputEvent(event(EVENT_MOUSE_CLICKED, 5, 6, 1), t0 + 30);  // summary: no record
    handleInputEvent(event(EVENT_MOUSE_MOVED, 7, 8), t0 + 40);
    drained();

    ASSERT_EQ(clickRecords.size(), 2u);
    EXPECT_EQ(fields(clickRecords[0]), std::tuple(0, -1920, -5, 65535));
    EXPECT_EQ(fields(clickRecords[1]), std::tuple(1, 5, 6, 1));
    ASSERT_EQ(positionRecords.size(), 2u);
    EXPECT_EQ(fields(positionRecords[0]), std::tuple(1, -32768, 32767, 0));
    EXPECT_EQ(fields(positionRecords[1]), std::tuple(0, 7, 8, 0));
}

TEST_F(InputGate, TheRunFlags) {
    inputRunning = false;  // nothing changes
    uiohook_event press = event(EVENT_MOUSE_PRESSED, 1, 1, 1);
    inputDispatchProc(&press);
    EXPECT_EQ(lastEventTime, 0);

    inputRunning = true;
    inputRecording = false;  // a move still moves the gate, nothing is stored
    handleInputEvent(event(EVENT_MOUSE_MOVED), t0);
    handleInputEvent(press, t0 + 20);
    EXPECT_EQ(lastEventTime, t0);
    drained();
    EXPECT_TRUE(clickRecords.empty());
    EXPECT_TRUE(positionRecords.empty());
    inputRecording = true;

    const int64_t before = wallClockMillis();
    inputDispatchProc(&press);  // stamps wall-clock milliseconds
    drained();
    ASSERT_EQ(clickRecords.size(), 1u);
    EXPECT_GE(clickRecords[0].time, before);
    EXPECT_LE(clickRecords[0].time, wallClockMillis());
}

}  // namespace input_test
