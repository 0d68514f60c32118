// A cursor's bitmaps as GetIconInfo and GetDIBits hand them out, read back through the same code
// the cursor image recorder uses: rows from the top, a monochrome cursor's AND mask above its XOR
// mask, a colour cursor's own alpha.
#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win/cursor_bitmaps.h"

namespace {

constexpr int side = 32;
constexpr int maskStride = side / 8;  // a monochrome bitmap's rows are whole WORDs; 32 bits are two

struct Pixel {
    uint8_t r, g, b, a;
};

Pixel pixelAt(const CursorImage& image, int x, int y) {
    const uint8_t* p = &image.rgba[(static_cast<size_t>(y) * image.width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

void setBit(std::array<uint8_t, maskStride * side>& plane, int x, int y, bool on) {
    uint8_t& byte = plane[static_cast<size_t>(y) * maskStride + x / 8];
    const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
    byte = static_cast<uint8_t>(on ? (byte | bit) : (byte & ~bit));
}

class OwnedCursor {
public:
    explicit OwnedCursor(HCURSOR cursor) : cursor(cursor) {}
    ~OwnedCursor() {
        if (cursor != nullptr) DestroyCursor(cursor);
    }
    OwnedCursor(const OwnedCursor&) = delete;
    OwnedCursor& operator=(const OwnedCursor&) = delete;
    HCURSOR get() const { return cursor; }

private:
    HCURSOR cursor;
};

TEST(CursorBitmaps, MonochromeCursorKeepsItsRowsAndMasksInPlace) {
    // Transparent everywhere (AND 1, XOR 0) but for black at the top-left, white at the
    // bottom-left and one inverting pixel.
    std::array<uint8_t, maskStride * side> andPlane;
    std::array<uint8_t, maskStride * side> xorPlane{};
    andPlane.fill(0xff);
    for (int x = 0; x < 4; ++x) {
        setBit(andPlane, x, 0, false);
        setBit(andPlane, x, side - 1, false);
        setBit(xorPlane, x, side - 1, true);
    }
    setBit(xorPlane, 10, 12, true);
    const OwnedCursor cursor(CreateCursor(GetModuleHandleW(nullptr), 3, 5, side, side, andPlane.data(), xorPlane.data()));
    ASSERT_NE(cursor.get(), nullptr);

    CursorImage image;
    ASSERT_TRUE(readCursorImage(cursor.get(), image));
    ASSERT_EQ(image.width, side);
    ASSERT_EQ(image.height, side) << "the mask's two halves make one image";
    EXPECT_EQ(image.hotX, 3);
    EXPECT_EQ(image.hotY, 5);
    EXPECT_GT(image.scale, 0.0);

    const Pixel topLeft = pixelAt(image, 0, 0);
    EXPECT_EQ(topLeft.a, 255);
    EXPECT_EQ(topLeft.r, 0) << "black at the top: rows are read from the top";
    const Pixel bottomLeft = pixelAt(image, 0, side - 1);
    EXPECT_EQ(bottomLeft.a, 255);
    EXPECT_EQ(bottomLeft.r, 255) << "white at the bottom: the XOR half is the lower one";
    EXPECT_EQ(pixelAt(image, 20, 20).a, 0);
    EXPECT_TRUE(image.outlined);
    EXPECT_EQ(pixelAt(image, 10, 12).a, 255);
    EXPECT_EQ(pixelAt(image, 10, 12).r, 0);
    EXPECT_EQ(pixelAt(image, 9, 12).r, 255) << "the inverting pixel's white ring";
}

TEST(CursorBitmaps, ColourCursorKeepsItsAlphaAndColours) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = side;
    info.bmiHeader.biHeight = -side;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(colour, nullptr);
    auto* bgra = static_cast<uint8_t*>(bits);
    std::memset(bgra, 0, static_cast<size_t>(side) * side * 4);
    const uint8_t red[4] = {0, 0, 255, 255};    // B, G, R, A
    const uint8_t green[4] = {0, 255, 0, 255};
    std::memcpy(bgra, red, 4);                                          // top-left
    std::memcpy(bgra + static_cast<size_t>(side - 1) * side * 4, green, 4);  // bottom-left
    GdiFlush();
    const std::array<uint8_t, maskStride * side> andPlane{};
    HBITMAP mask = CreateBitmap(side, side, 1, 1, andPlane.data());
    ASSERT_NE(mask, nullptr);
    ICONINFO icon{FALSE, 7, 9, mask, colour};
    const OwnedCursor cursor(CreateIconIndirect(&icon));
    DeleteObject(mask);
    DeleteObject(colour);
    ASSERT_NE(cursor.get(), nullptr);

    CursorImage image;
    ASSERT_TRUE(readCursorImage(cursor.get(), image));
    ASSERT_EQ(image.width, side);
    ASSERT_EQ(image.height, side);
    EXPECT_EQ(image.hotX, 7);
    EXPECT_EQ(image.hotY, 9);
    const Pixel topLeft = pixelAt(image, 0, 0);
    EXPECT_EQ(topLeft.r, 255);
    EXPECT_EQ(topLeft.g, 0);
    EXPECT_EQ(topLeft.a, 255);
    const Pixel bottomLeft = pixelAt(image, 0, side - 1);
    EXPECT_EQ(bottomLeft.g, 255);
    EXPECT_EQ(bottomLeft.r, 0);
    EXPECT_EQ(bottomLeft.a, 255);
    EXPECT_EQ(pixelAt(image, 5, 5).a, 0) << "its own alpha, not the mask's (which covers everything)";
    EXPECT_FALSE(image.outlined);
}

// A monochrome 32x32 .cur file whose black 4x4 square sits at (x, y) of an otherwise
// transparent cursor.
std::string curFile(int x, int y) {
    std::string file;
    const auto put16 = [&file](uint16_t v) { file.append(reinterpret_cast<const char*>(&v), 2); };
    const auto put32 = [&file](uint32_t v) { file.append(reinterpret_cast<const char*>(&v), 4); };
    const uint32_t imageBytes = 40 + 8 + 2 * maskStride * side;
    put16(0), put16(2), put16(1);                          // a cursor file with one image
    file += static_cast<char>(side), file += static_cast<char>(side), file += '\0', file += '\0';
    put16(1), put16(1), put32(imageBytes), put32(22);      // hotspot, size, offset
    put32(40), put32(side), put32(2 * side), put16(1), put16(1), put32(0), put32(0), put32(0), put32(0), put32(0), put32(0);
    put32(0x000000), put32(0xffffff);                      // palette: black, white
    file.append(maskStride * side, '\0');                  // XOR: nothing inverted
    std::array<uint8_t, maskStride * side> andPlane;       // AND, bottom-up: transparent but the square
    andPlane.fill(0xff);
    for (int row = y; row < y + 4; ++row) {
        for (int column = x; column < x + 4; ++column) setBit(andPlane, column, side - 1 - row, false);
    }
    file.append(reinterpret_cast<const char*>(andPlane.data()), andPlane.size());
    return file;
}

// A RIFF chunk, padded to an even size.
std::string chunk(const char* id, const std::string& body) {
    std::string out(id, 4);
    const uint32_t size = static_cast<uint32_t>(body.size());
    out.append(reinterpret_cast<const char*>(&size), 4);
    out += body;
    if (body.size() % 2 != 0) out += '\0';
    return out;
}

TEST(CursorBitmaps, AnAnimatedCursorIsToldFromAStillOne) {
    // Two frames: the square at the top-left, then at the bottom-right.
    const std::array<uint32_t, 9> header{36, 2, 2, 0, 0, 0, 0, 10, 1};  // 2 frames, 2 steps, 10 jiffies, icon frames
    const std::string ani = chunk("RIFF", std::string("ACON") + chunk("anih", std::string(reinterpret_cast<const char*>(header.data()), 36)) +
                                              chunk("LIST", std::string("fram") + chunk("icon", curFile(0, 0)) + chunk("icon", curFile(20, 20))));
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "desktracks-test-busy.ani";
    std::ofstream(path, std::ios::binary) << ani;
    const OwnedCursor animated(LoadCursorFromFileW(path.c_str()));
    std::filesystem::remove(path);
    ASSERT_NE(animated.get(), nullptr);
    CursorImage first;
    ASSERT_TRUE(readCursorImage(animated.get(), first));
    EXPECT_TRUE(cursorIsAnimated(animated.get(), first.width, first.height)) << "its black square moved";
    EXPECT_FALSE(cursorIsAnimated(LoadCursorW(nullptr, IDC_ARROW), side, side));
}

}  // namespace
