// Changed parts of a screen frame: how they are gathered, stored, and said to the writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "pixel_desktop_fixture.h"
#include "screen/image_changes.h"

namespace damage_test {
namespace {

bool operator==(const ImageRect& a, const ImageRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(ImageChanges, ClipsToTheImageMergesManyPartsAndTakesLargeOnesAsTheWhole) {
    ImageChanges changes(100, 80);
    EXPECT_TRUE(changes.whole());
    changes.clear();
    EXPECT_TRUE(changes.none());
    changes.add({-5, -5, 10, 10});
    changes.add({120, 0, 130, 10});  // outside
    changes.add({20, 20, 20, 30});   // empty
    ASSERT_EQ(changes.rects().size(), 1u);
    EXPECT_TRUE(changes.rects()[0] == (ImageRect{0, 0, 10, 10}));

    for (int i = 1; i <= int(ImageChanges::maxRects); ++i) changes.add({i * 2, 40, i * 2 + 1, 41});
    ASSERT_EQ(changes.rects().size(), 1u) << "past the limit the parts become their bounding box";
    EXPECT_TRUE(changes.rects()[0] == (ImageRect{0, 0, 33, 41}));
    EXPECT_FALSE(changes.whole());

    changes.clear();
    changes.add({0, 0, 100, 39});
    EXPECT_FALSE(changes.whole());
    changes.add({0, 39, 100, 41});
    EXPECT_TRUE(changes.whole()) << "half the image or more is the whole";
    changes.add({0, 0, 1, 1});
    EXPECT_TRUE(changes.whole() && changes.rects().empty());
}

// A desktop of 9x7 pixels with padded rows; every byte distinct enough to show a misplaced copy.
std::vector<uint8_t> desktop(uint8_t seed) {
    std::vector<uint8_t> pixels(7 * 40);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(seed + i * 7);
    return pixels;
}

TEST(FrameRegion, StoringTheChangedPartEqualsStoringTheWholeImageForAnyArea) {
    const std::optional<CaptureArea> areas[] = {std::nullopt, CaptureArea{2, 1, 7, 5}, CaptureArea{-2, -1, 6, 4},
                                                CaptureArea{5, 3, 12, 9}};
    const ImageRect changed{3, 2, 7, 6};
    for (const auto& area : areas) {
        const std::vector<uint8_t> before = desktop(1);
        std::vector<uint8_t> after = before;
        for (int y = changed.top; y < changed.bottom; ++y) {
            for (int x = changed.left * 4; x < changed.right * 4; ++x) after[y * 40 + x] ^= 0xFF;
        }
        std::vector<uint8_t> image;
        ASSERT_TRUE(storeFrameImage(image, before.data(), 40, 9, 7, area));
        const std::vector<uint8_t> old = image;
        storeFrameRegion(image, after.data(), 40, 9, 7, area, changed);
        std::vector<uint8_t> expected;
        ASSERT_TRUE(storeFrameImage(expected, after.data(), 40, 9, 7, area));
        EXPECT_EQ(image, expected);

        // Outside the video rectangle of the change, the video is as it was.
        const VideoSize size = videoSizeFor(area, 9, 7);
        const ImageRect inVideo = videoRectFor(changed, area, size);
        for (uint32_t y = 0; y < size.height; ++y) {
            for (uint32_t x = 0; x < size.width; ++x) {
                const bool inside = int(x) >= inVideo.left && int(x) < inVideo.right && int(y) >= inVideo.top && int(y) < inVideo.bottom;
                const size_t at = ((size.height - 1 - y) * size.width + x) * 4;
                if (!inside) {
                    EXPECT_EQ(image[at], old[at]) << x << "," << y;
                }
            }
        }
    }
}

// The constant-rate loop on the scripted desktop of pixel_desktop_fixture.h, whose writer holds
// the two latest samples as the real one's queue does: the recorder has to bring older buffers up
// to date from what they missed.
using namespace pixel_desktop;

TEST(ConstantRateDamage, EverySampleIsTheWholeLatestDesktopAndSaysWhereItDiffersFromTheOneBefore) {
    w = World{};
    w.writerHolds = 2;
    w.writerKnowsEnd = false;
    w.laterDuplicationsKnowFirstFrame = true;
    Step late = change({0, 0, 2, 2}, 250);  // a late pass: the slots it missed repeat its image
    late.blocks = true;
    RecordingSettings settings = settingsAt(10);
    settings.constantFrameRate = true;
    record({still(), change({1, 1, 4, 3}, 0), still(), change({10, 5, 16, 8}, 0), late, change({3, 2, 6, 4}, 0),
            change({12, 0, 16, 3}, 0), still(), change({1, 1, 4, 3}, 0), lost(),
            change({6, 0, 8, 2}, 0),  // the new staging image holds nothing: this frame is copied whole
            change({5, 5, 9, 8}, 0)},
           settings);

    ASSERT_GE(w.written.size(), 12u);
    for (size_t n = 0; n < w.written.size(); ++n) EXPECT_EQ(w.written[n].time, int64_t(n) * 1000000) << "sample " << n << " off the grid";
    EXPECT_EQ(w.wholeCopies, 2) << "after the first frame only the changed parts are copied, until the duplication is new";
    EXPECT_EQ(w.partCopies, 7);

    // Each sample shows one of the acquired desktops, in order, ending with the last.
    size_t shown = 0;
    for (size_t n = 0; n < w.written.size(); ++n) {
        while (shown < w.acquired.size() && w.written[n].image != asVideo(w.acquired[shown].screen)) ++shown;
        ASSERT_LT(shown, w.acquired.size()) << "sample " << n << " is no desktop that was acquired, or an older one";
    }
    EXPECT_EQ(shown, w.acquired.size() - 1);

    // Where two samples differ, the later one said so.
    EXPECT_FALSE(w.written[0].changed.has_value()) << "the first sample is new everywhere";
    EXPECT_EQ(std::count_if(w.written.begin(), w.written.end(), [](const auto& s) { return !s.changed; }), 2)
        << "and so is the first after a whole copy";
    for (size_t n = 1; n < w.written.size(); ++n) {
        if (!w.written[n].changed) continue;
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                const size_t at = ((height - 1 - y) * width + x) * 4;
                if (w.written[n].image[at] == w.written[n - 1].image[at]) continue;
                bool said = false;
                for (const ImageRect& r : *w.written[n].changed) said = said || (int(x) >= r.left && int(x) < r.right && int(y) >= r.top && int(y) < r.bottom);
                EXPECT_TRUE(said) << "sample " << n << " changed at " << x << "," << y << " without saying so";
            }
        }
    }
}

}  // namespace
}  // namespace damage_test
