// The changes-only loop on the scripted desktop of pixel_desktop_fixture.h at 20 fps (a 50 ms
// wait): a sample for each change, at once, holding the picture of its moment.
#include <gtest/gtest.h>

#include "pixel_desktop_fixture.h"

namespace changes_test {
namespace {

using namespace pixel_desktop;

void recordChanges(std::deque<Step> steps, CaptureArea area = {}) {
    RecordingSettings settings = settingsAt(20);
    settings.changesOnly = true;
    settings.area = area;
    record(std::move(steps), settings);
}

int64_t sinceFirst(size_t frame) { return w.acquired[frame].at - w.acquired[0].at; }

TEST(ChangesOnly, AStillDesktopGivesOneSampleThatLastsToTheEndAndWaitsAFrameIntervalAtATime) {
    w = World{};
    std::deque<Step> steps{change({0, 0, 16, 8}, 0)};
    for (int i = 0; i < 200; ++i) steps.push_back(still());  // 10 s
    recordChanges(steps);
    ASSERT_EQ(w.written.size(), 1u);
    EXPECT_EQ(w.written[0].time, 0);
    EXPECT_EQ(w.written[0].acquiresBefore, 1) << "the first sample is written at once";
    ASSERT_TRUE(w.endedAt.has_value());
    EXPECT_EQ(*w.endedAt, w.steady - w.acquired[0].at) << "the picture lasts until the end";
    for (size_t i = 1; i < w.timeouts.size(); ++i) EXPECT_EQ(w.timeouts[i], 50u) << "each wait is one frame interval, no spinning";
}

TEST(ChangesOnly, PointerOnlyFramesAndChangesOutsideTheAreaAreNoChange) {
    w = World{};
    recordChanges({change({0, 0, 16, 8}, 0), pointer(), still(), pointer(), change({12, 6, 16, 8}), pointer(), change({2, 2, 5, 4}, 20),
                   pointer(), still()},
                  CaptureArea{0, 0, 10, 5});
    // The first frame, and the one change inside the 10x5 area.
    ASSERT_EQ(w.written.size(), 2u);
    EXPECT_EQ(w.written[1].time, sinceFirst(5)) << "timed when the change was captured";
    EXPECT_EQ(w.written[1].duration, w.written[1].time);
    EXPECT_EQ(w.written[1].acquiresBefore, 7) << "written in the pass that captured it";
}

TEST(ChangesOnly, EveryChangeGetsItsOwnSampleAtOnceHoldingThePictureOfItsMoment) {
    w = World{};
    std::deque<Step> steps{change({0, 0, 16, 8}, 0)};
    for (int i = 0; i < 100; ++i) steps.push_back(still());  // 5 s still
    steps.push_back(change({1, 1, 4, 3}, 30));             // a change after a long still
    steps.push_back(change({6, 0, 9, 2}, 1));
    // Two changes that came within one pass: merged into one sample holding both.
    steps.push_back({Kind::paint, {{10, 4, 12, 6}, {0, 6, 3, 8}}, 2 * msTicks});
    steps.push_back({Kind::unknown, {{3, 3, 5, 5}}, 70 * msTicks});  // the duplication cannot say what changed
    steps.push_back(still());
    steps.push_back(change({5, 5, 7, 7}, 49));
    recordChanges(steps);
    ASSERT_EQ(w.written.size(), 6u);
    ASSERT_EQ(w.acquired.size(), 6u);
    for (size_t n = 0; n < w.written.size(); ++n) {
        EXPECT_EQ(w.written[n].time, sinceFirst(n)) << "sample " << n;
        EXPECT_EQ(w.written[n].image, asVideo(w.acquired[n].screen)) << "sample " << n << " shows another moment";
        if (n > 0) {
            EXPECT_EQ(w.written[n].duration, w.written[n].time - w.written[n - 1].time);
        }
    }
    EXPECT_GT(w.written[1].time, 5 * 10000000) << "the change after the still";
    EXPECT_EQ(*w.endedAt, w.steady - w.acquired[0].at);
}

TEST(ChangesOnly, AWriterThatCannotBeToldTheEndGetsThePictureOnceMoreAtTheEnd) {
    w = World{};
    w.writerKnowsEnd = false;
    std::deque<Step> steps{change({0, 0, 16, 8}, 0)};
    for (int i = 0; i < 20; ++i) steps.push_back(still());
    recordChanges(steps);
    ASSERT_EQ(w.written.size(), 2u);
    EXPECT_EQ(w.written[1].time, w.steady - w.acquired[0].at);
    EXPECT_EQ(w.written[1].image, w.written[0].image);
}

TEST(ChangesOnly, RecordingThatStartsLaterWritesTheLatestPictureAtOnceAndALostDuplicationIsNoChange) {
    w = World{};
    w.recordingPass = 3;
    recordChanges({change({0, 0, 16, 8}, 0), change({1, 1, 3, 3}), still(), still(), lost(), still(), still(), change({4, 4, 6, 6})});
    ASSERT_EQ(w.written.size(), 3u);
    EXPECT_EQ(w.written[0].acquiresBefore, 4) << "no wait for a change when recording begins";
    EXPECT_EQ(w.timeouts[3], 0u);
    // The new duplication's first frame is copied whole, so it may differ anywhere: it is written.
    EXPECT_EQ(w.written[1].image, w.written[0].image);
    EXPECT_EQ(w.written[2].image, asVideo(w.screen));
}

}  // namespace
}  // namespace changes_test
