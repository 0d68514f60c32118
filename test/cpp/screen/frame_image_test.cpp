#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <limits>
#include <vector>

#include "screen/frame_image.h"

namespace screen_test {
namespace {

// A 4x3 desktop whose pixels spell their position (x, y, 0x11, 0xFF); row padding and columns
// beyond rowPitch / 4 hold 0xEE.
std::vector<uint8_t> syntheticDesktop(uint32_t pitch) {
    std::vector<uint8_t> pixels(size_t(pitch) * 3, 0xEE);
    for (uint32_t y = 0; y < 3; ++y) {
        for (uint32_t x = 0; x < std::min(4u, pitch / 4); ++x) {
            uint8_t* p = &pixels[size_t(y) * pitch + x * 4];
            p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = 0x11, p[3] = 0xFF;
        }
    }
    return pixels;
}

std::optional<CaptureArea> areaOf(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return usableCaptureArea(CaptureArea{left, top, right, bottom});
}

TEST(FrameImage, CropsTurnsBottomUpAndLeavesBlackWhereThereIsNoDesktop) {
    struct Case {
        std::optional<CaptureArea> area;
        uint32_t pitch;
    };
    const Case cases[] = {
        {std::nullopt, 16},
        {std::nullopt, 24},          // padding bytes never arrive
        {std::nullopt, 8},           // a pitch of 2 pixels: columns 2 and 3 are not read
        {areaOf(1, 1, 3, 3), 16},
        {areaOf(-2, -1, 2, 2), 16},  // left of and above the desktop
        {areaOf(3, 2, 6, 5), 16},    // right of and below it
        {areaOf(100, 100, 104, 102), 16},
        {areaOf(-50, -50, -10, -10), 16},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> desktop = syntheticDesktop(c.pitch);
        std::vector<uint8_t> image;
        ASSERT_TRUE(storeFrameImage(image, desktop.data(), c.pitch, 4, 3, c.area));
        const VideoSize size = videoSizeFor(c.area, 4, 3);
        const int32_t left = c.area ? c.area->left : 0, top = c.area ? c.area->top : 0;
        ASSERT_EQ(image.size(), size_t(size.width) * size.height * 4);
        for (uint32_t row = 0; row < size.height; ++row) {
            for (uint32_t column = 0; column < size.width; ++column) {
                // Memory row 0 is the area's bottom row.
                const int64_t x = left + int64_t(column), y = top + int64_t(size.height - 1 - row);
                const bool onDesktop = x >= 0 && y >= 0 && x < std::min<int64_t>(4, c.pitch / 4) && y < 3;
                const uint8_t* p = &image[(size_t(row) * size.width + column) * 4];
                const std::vector<uint8_t> expected =
                    onDesktop ? std::vector<uint8_t>{uint8_t(x), uint8_t(y), 0x11, 0xFF} : std::vector<uint8_t>(4, 0);
                EXPECT_EQ(std::vector<uint8_t>(p, p + 4), expected)
                    << "pitch " << c.pitch << " left " << left << " top " << top << " at " << column << "," << row;
            }
        }
    }
}

TEST(FrameImage, RefusedAreasRecordTheWholeOutput) {
    constexpr int32_t lowest = std::numeric_limits<int32_t>::min(), highest = std::numeric_limits<int32_t>::max();
    const CaptureArea refused[] = {
        {0, 0, 0, 0},        {10, 10, 0, 500},    {10, 10, 800, 0},    {100, 100, 100, 200},   {200, 100, 100, 200},
        {100, 300, 200, 200}, {0, 0, 1, 100},     {lowest, 0, highest, 10}, {0, 0, 70000, 70000},  // 4 bytes a pixel overflow 32 bits
    };
    for (const CaptureArea& area : refused) {
        EXPECT_FALSE(usableCaptureArea(area)) << area.left << " " << area.top << " " << area.right << " " << area.bottom;
    }
    EXPECT_TRUE(areaOf(-10, -10, 10, 10));
    const VideoSize odd = videoSizeFor(areaOf(0, 0, 641, 481), 1920, 1080);
    EXPECT_EQ(odd.width, 641u);
    EXPECT_EQ(odd.height, 481u);

    std::vector<uint8_t> image(4, 0x33);
    uint8_t pixel[4] = {};
    EXPECT_FALSE(storeFrameImage(image, pixel, 4, 70000, 70000, std::nullopt));
    EXPECT_FALSE(storeFrameImage(image, pixel, 4, 0, 10, std::nullopt));
    EXPECT_EQ(image, std::vector<uint8_t>(4, 0x33));
}

}  // namespace
}  // namespace screen_test
