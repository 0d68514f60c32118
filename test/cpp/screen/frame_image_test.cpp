#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "screen/frame_image.h"

namespace screen_test {
namespace {

// A desktop whose every pixel spells its own position: bytes x, y, row-pitch marker, 0xFF.
struct SyntheticDesktop {
    uint32_t width;
    uint32_t height;
    uint32_t rowPitch;
    std::vector<uint8_t> pixels;

    SyntheticDesktop(uint32_t w, uint32_t h, uint32_t pitch) : width(w), height(h), rowPitch(pitch), pixels(size_t(pitch) * h, 0xEE) {
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                uint8_t* p = &pixels[size_t(y) * pitch + x * 4];
                p[0] = uint8_t(x);
                p[1] = uint8_t(y);
                p[2] = 0x11;
                p[3] = 0xFF;
            }
        }
    }
};

// Pixel (column, memoryRow) of a bottom-up frame image of the given width.
const uint8_t* pixelAt(const std::vector<uint8_t>& image, uint32_t width, uint32_t column, uint32_t memoryRow) {
    return &image[(size_t(memoryRow) * width + column) * 4];
}

void expectDesktopPixel(const uint8_t* pixel, uint32_t x, uint32_t y) {
    EXPECT_EQ(pixel[0], uint8_t(x));
    EXPECT_EQ(pixel[1], uint8_t(y));
    EXPECT_EQ(pixel[2], 0x11);
    EXPECT_EQ(pixel[3], 0xFF);
}

void expectBlack(const uint8_t* pixel) {
    for (int i = 0; i < 4; ++i) EXPECT_EQ(pixel[i], 0) << "byte " << i;
}

std::optional<CaptureArea> areaOf(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return usableCaptureArea(CaptureArea{left, top, right, bottom});
}

TEST(FrameImage, AreaIsCroppedAndTurnedBottomUp) {
    SyntheticDesktop desktop(4, 3, 16);
    std::vector<uint8_t> image;
    ASSERT_TRUE(storeFrameImage(image, desktop.pixels.data(), 16, 4, 3, areaOf(1, 1, 3, 3)));
    ASSERT_EQ(image.size(), 16u);
    // First 8 bytes: desktop row 2, pixels 1 and 2; last 8: desktop row 1.
    expectDesktopPixel(pixelAt(image, 2, 0, 0), 1, 2);
    expectDesktopPixel(pixelAt(image, 2, 1, 0), 2, 2);
    expectDesktopPixel(pixelAt(image, 2, 0, 1), 1, 1);
    expectDesktopPixel(pixelAt(image, 2, 1, 1), 2, 1);
}

TEST(FrameImage, WholeDesktopIsTurnedBottomUp) {
    SyntheticDesktop desktop(4, 3, 16);
    std::vector<uint8_t> image;
    ASSERT_TRUE(storeFrameImage(image, desktop.pixels.data(), 16, 4, 3, std::nullopt));
    ASSERT_EQ(image.size(), 48u);
    for (uint32_t row = 0; row < 3; ++row) {
        for (uint32_t x = 0; x < 4; ++x) expectDesktopPixel(pixelAt(image, 4, x, row), x, 2 - row);
    }
}

TEST(FrameImage, BytesBeyondTheRowInTheRowPitchNeverArrive) {
    SyntheticDesktop desktop(4, 3, 24);  // 8 padding bytes of 0xEE per row
    std::vector<uint8_t> image;
    ASSERT_TRUE(storeFrameImage(image, desktop.pixels.data(), 24, 4, 3, std::nullopt));
    ASSERT_EQ(image.size(), 48u);
    for (uint8_t byte : image) EXPECT_NE(byte, 0xEE);
    expectDesktopPixel(pixelAt(image, 4, 3, 0), 3, 2);
}

TEST(FrameImage, AreaOfAFullHdDesktop) {
    SyntheticDesktop desktop(1920, 1080, 1920 * 4);
    std::vector<uint8_t> image;
    const auto area = areaOf(100, 50, 740, 530);
    const VideoSize size = videoSizeFor(area, 1920, 1080);
    EXPECT_EQ(size.width, 640u);
    EXPECT_EQ(size.height, 480u);
    ASSERT_TRUE(storeFrameImage(image, desktop.pixels.data(), 1920 * 4, 1920, 1080, area));
    ASSERT_EQ(image.size(), 640u * 480u * 4u);
    expectDesktopPixel(pixelAt(image, 640, 0, 0), 100, 529);
    expectDesktopPixel(pixelAt(image, 640, 639, 0), 739, 529);
    expectDesktopPixel(pixelAt(image, 640, 0, 479), 100, 50);
}

TEST(FrameImage, ImageIsReusedAndKeepsRowsANewImageDoesNotReach) {
    SyntheticDesktop desktop(4, 3, 16);
    std::vector<uint8_t> image(8, 0x77);  // an earlier, smaller image
    // Area reaching one row below the desktop: the bottom row in memory is not written.
    ASSERT_TRUE(storeFrameImage(image, desktop.pixels.data(), 16, 4, 3, areaOf(0, 1, 2, 4)));
    ASSERT_EQ(image.size(), 24u);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(image[i], 0x77) << i;  // kept from before
    expectDesktopPixel(pixelAt(image, 2, 0, 1), 0, 2);
    expectDesktopPixel(pixelAt(image, 2, 1, 2), 1, 1);
}

TEST(VideoSizeRule, AreaInForceOnlyWithRightAndBottom) {
    EXPECT_FALSE(areaOf(0, 0, 0, 0));
    EXPECT_FALSE(areaOf(10, 10, 0, 500));
    EXPECT_FALSE(areaOf(10, 10, 800, 0));
    const VideoSize whole = videoSizeFor(areaOf(10, 10, 0, 500), 1920, 1080);
    EXPECT_EQ(whole.width, 1920u);
    EXPECT_EQ(whole.height, 1080u);
    const VideoSize odd = videoSizeFor(areaOf(0, 0, 641, 481), 1920, 1080);
    EXPECT_EQ(odd.width, 641u);
    EXPECT_EQ(odd.height, 481u);
}

TEST(VideoSizeRule, UnusableAreasFallBackToTheWholeOutput) {
    EXPECT_FALSE(areaOf(100, 100, 100, 200));  // right == left
    EXPECT_FALSE(areaOf(200, 100, 100, 200));  // right < left
    EXPECT_FALSE(areaOf(100, 300, 200, 200));  // bottom < top
    EXPECT_FALSE(areaOf(0, 0, 1, 100));        // narrower than the encoder's 2 pixels
    EXPECT_FALSE(areaOf(std::numeric_limits<int32_t>::min(), 0, std::numeric_limits<int32_t>::max(), 10));
    EXPECT_FALSE(areaOf(0, 0, 70000, 70000));  // 70000 * 70000 * 4 bytes overflow 32 bits
    EXPECT_TRUE(areaOf(-10, -10, 10, 10));
}

TEST(FrameImage, AreaPartlyOutsideTheDesktopCopiesOnlyTheOverlap) {
    SyntheticDesktop desktop(4, 3, 16);
    std::vector<uint8_t> image;
    // Two columns left of and one row above the desktop.
    ASSERT_TRUE(storeFrameImage(image, desktop.pixels.data(), 16, 4, 3, areaOf(-2, -1, 2, 2)));
    ASSERT_EQ(image.size(), 4u * 3u * 4u);
    // Memory row 2 is area row 0 = desktop row -1: black.
    for (uint32_t x = 0; x < 4; ++x) expectBlack(pixelAt(image, 4, x, 2));
    expectBlack(pixelAt(image, 4, 0, 0));
    expectBlack(pixelAt(image, 4, 1, 0));
    expectDesktopPixel(pixelAt(image, 4, 2, 0), 0, 1);
    expectDesktopPixel(pixelAt(image, 4, 3, 1), 1, 0);

    // Beyond the right and bottom edges.
    image.clear();
    ASSERT_TRUE(storeFrameImage(image, desktop.pixels.data(), 16, 4, 3, areaOf(3, 2, 6, 5)));
    ASSERT_EQ(image.size(), 3u * 3u * 4u);
    expectDesktopPixel(pixelAt(image, 3, 0, 2), 3, 2);
    expectBlack(pixelAt(image, 3, 1, 2));
}

TEST(FrameImage, AreaWhollyOutsideTheDesktopStaysBlack) {
    SyntheticDesktop desktop(4, 3, 16);
    std::vector<uint8_t> image;
    ASSERT_TRUE(storeFrameImage(image, desktop.pixels.data(), 16, 4, 3, areaOf(100, 100, 104, 102)));
    ASSERT_EQ(image.size(), 4u * 2u * 4u);
    for (uint8_t byte : image) EXPECT_EQ(byte, 0);
    ASSERT_TRUE(storeFrameImage(image, desktop.pixels.data(), 16, 4, 3, areaOf(-50, -50, -10, -10)));
    for (uint8_t byte : image) EXPECT_EQ(byte, 0);
}

TEST(FrameImage, ShortRowPitchLimitsTheColumnsRead) {
    // The mapping claims 4 pixels per row but its rows hold only 2: nothing past them is read.
    const uint32_t pitch = 8;
    std::vector<uint8_t> mapped(pitch * 3, 0x22);
    std::vector<uint8_t> image;
    ASSERT_TRUE(storeFrameImage(image, mapped.data(), pitch, 4, 3, std::nullopt));
    ASSERT_EQ(image.size(), 48u);
    EXPECT_EQ(*pixelAt(image, 4, 1, 0), 0x22);
    expectBlack(pixelAt(image, 4, 2, 0));
}

TEST(FrameImage, RefusesSizesThatDoNotFit32Bits) {
    std::vector<uint8_t> image(4, 0x33);
    uint8_t pixel[4] = {};
    EXPECT_FALSE(storeFrameImage(image, pixel, 4, 70000, 70000, std::nullopt));
    EXPECT_FALSE(storeFrameImage(image, pixel, 4, 0, 10, std::nullopt));
    EXPECT_EQ(image.size(), 4u);
}

}  // namespace
}  // namespace screen_test
