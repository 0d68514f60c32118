// Cursor images as an editor redraws them: straight alpha from X's premultiplied pixels and from
// Windows' colour, monochrome and inverting bitmaps; one id per image; PNG files; the journal.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <sstream>

#include "input/cursor_image_recorder.h"
#include "input/cursor_images.h"
#include "input/cursor_pixels.h"
#include "platform/cursor_image_source.h"
#include "platform/png_file.h"
#include "pointer_shape_feed.h"
#include "wall_clock.h"

#include <nlohmann/json.hpp>
#include <chrono>
#include <thread>

namespace {

std::vector<uint8_t> pixel(uint8_t r, uint8_t g, uint8_t b, uint8_t a) { return {r, g, b, a}; }

std::vector<uint8_t> at(const CursorImage& image, int x, int y) {
    const auto* p = &image.rgba[(static_cast<size_t>(y) * image.width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

// A 1-bit mask row padded to 32 bits, from a string of '0' and '1'.
void maskRow(std::vector<uint8_t>& mask, const std::string& bits) {
    std::vector<uint8_t> row(4, 0);
    for (size_t x = 0; x < bits.size(); ++x) {
        if (bits[x] == '1') row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    mask.insert(mask.end(), row.begin(), row.end());
}

TEST(CursorPixels, PremultipliedArgbBecomesStraightRgba) {
    const uint32_t argb[] = {0xff102030, 0x80400000, 0x00000000, 0x80808080, 0x01010101};
    const std::vector<uint8_t> rgba = straightRgbaFromPremultipliedArgb(argb, 5);
    EXPECT_EQ(std::vector<uint8_t>(rgba.begin(), rgba.begin() + 4), pixel(0x10, 0x20, 0x30, 0xff));
    EXPECT_EQ(std::vector<uint8_t>(rgba.begin() + 4, rgba.begin() + 8), pixel(128, 0, 0, 0x80));  // 64 of 128
    EXPECT_EQ(std::vector<uint8_t>(rgba.begin() + 8, rgba.begin() + 12), pixel(0, 0, 0, 0));
    EXPECT_EQ(std::vector<uint8_t>(rgba.begin() + 12, rgba.begin() + 16), pixel(255, 255, 255, 0x80));
    EXPECT_EQ(std::vector<uint8_t>(rgba.begin() + 16, rgba.begin() + 20), pixel(255, 255, 255, 1));
    EXPECT_FALSE(fullyTransparent(rgba));
    EXPECT_TRUE(fullyTransparent(std::vector<uint8_t>(8, 0)));
}

TEST(CursorPixels, WindowsColourCursorKeepsItsAlphaOrTakesTheMask) {
    // 2x1 BGRA: opaque blue, half-transparent red.
    const uint8_t withAlpha[] = {255, 0, 0, 255, 0, 0, 255, 128};
    std::vector<uint8_t> mask;
    maskRow(mask, "01");
    CursorImage image = cursorFromWindowsBitmaps(2, 1, withAlpha, mask.data());
    EXPECT_EQ(at(image, 0, 0), pixel(0, 0, 255, 255));
    EXPECT_EQ(at(image, 1, 0), pixel(255, 0, 0, 128));

    // No alpha anywhere: the AND mask says what is transparent.
    const uint8_t noAlpha[] = {255, 0, 0, 0, 0, 0, 255, 0};
    image = cursorFromWindowsBitmaps(2, 1, noAlpha, mask.data());
    EXPECT_EQ(at(image, 0, 0), pixel(0, 0, 255, 255));
    EXPECT_EQ(at(image, 1, 0), pixel(0, 0, 0, 0));
    EXPECT_FALSE(image.outlined);
}

TEST(CursorPixels, WindowsMonochromeCursorWithAnInvertingPixelGetsAnOutline) {
    // 3x3: AND image above the XOR image. Top row black, white, transparent; the centre inverts.
    std::vector<uint8_t> mask;
    for (const char* row : {"001", "111", "111", "010", "010", "000"}) maskRow(mask, row);
    const CursorImage image = cursorFromWindowsBitmaps(3, 3, nullptr, mask.data());
    ASSERT_EQ(image.rgba.size(), 36u);
    EXPECT_EQ(at(image, 0, 0), pixel(0, 0, 0, 255));
    EXPECT_EQ(at(image, 1, 0), pixel(255, 255, 255, 255));
    EXPECT_EQ(at(image, 2, 0), pixel(255, 255, 255, 255));  // transparent, but beside the inverting pixel
    EXPECT_EQ(at(image, 1, 1), pixel(0, 0, 0, 255));        // inverting: black
    EXPECT_EQ(at(image, 0, 1), pixel(255, 255, 255, 255));  // its ring
    EXPECT_EQ(at(image, 2, 2), pixel(255, 255, 255, 255));
    EXPECT_TRUE(image.outlined);

    // Without inverting pixels nothing is added.
    std::vector<uint8_t> plain;
    for (const char* row : {"011", "011", "011", "000", "000", "000"}) maskRow(plain, row);
    const CursorImage solid = cursorFromWindowsBitmaps(3, 3, nullptr, plain.data());
    EXPECT_EQ(at(solid, 0, 0), pixel(0, 0, 0, 255));
    EXPECT_EQ(at(solid, 1, 0), pixel(0, 0, 0, 0));
    EXPECT_FALSE(solid.outlined);
}

// The duplication's three kinds of pointer shape, rows padded beyond their pixels.
TEST(CursorPixels, PointerShapesOfEachKindFollowTheBitmapRules) {
    // Masked colour, 5x2 with 24-byte rows: red and blue shown as they are, black XORed (the
    // screen unchanged: transparent), one white XORed pixel (inverts: black with a white ring).
    PointerShape masked;
    masked.kind = PointerShape::Kind::maskedColour;
    masked.width = 5, masked.height = 2, masked.pitch = 24, masked.hotX = 4, masked.hotY = 1;
    masked.pixels.assign(48, 0xee);  // the padding
    const std::vector<std::vector<uint8_t>> bgrm = {{0, 0, 255, 0}, {0, 0, 0, 255}, {0, 0, 0, 255}, {0, 0, 0, 255}, {0, 0, 0, 255},
                                                   {255, 0, 0, 0}, {0, 0, 0, 255}, {0, 0, 0, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}};
    for (size_t i = 0; i < bgrm.size(); ++i) std::copy(bgrm[i].begin(), bgrm[i].end(), masked.pixels.begin() + (i / 5) * 24 + (i % 5) * 4);
    const CursorImage image = cursorFromPointerShape(masked);
    ASSERT_EQ(image.rgba.size(), 40u);
    EXPECT_EQ(image.hotX, 4);
    EXPECT_EQ(at(image, 0, 0), pixel(255, 0, 0, 255));
    EXPECT_EQ(at(image, 0, 1), pixel(0, 0, 255, 255));
    EXPECT_EQ(at(image, 1, 0), pixel(0, 0, 0, 0));
    EXPECT_EQ(at(image, 4, 1), pixel(0, 0, 0, 255));        // inverting: black
    EXPECT_EQ(at(image, 3, 0), pixel(255, 255, 255, 255));  // its ring
    EXPECT_EQ(at(image, 3, 1), pixel(255, 255, 255, 255));
    EXPECT_TRUE(image.outlined);

    // Monochrome: the same masks as GetDIBits hands out give the same image.
    std::vector<uint8_t> mask;
    for (const char* row : {"001", "111", "111", "010", "010", "000"}) maskRow(mask, row);
    PointerShape mono;
    mono.kind = PointerShape::Kind::monochrome;
    mono.width = 3, mono.height = 3, mono.pitch = 4, mono.pixels = mask;
    EXPECT_EQ(cursorFromPointerShape(mono).rgba, cursorFromWindowsBitmaps(3, 3, nullptr, mask.data()).rgba);

    // Colour keeps its alpha, half-transparent included.
    PointerShape colour;
    colour.width = 2, colour.height = 1, colour.pitch = 12;
    colour.pixels = {255, 0, 0, 255, 0, 0, 255, 128, 9, 9, 9, 9};
    EXPECT_EQ(at(cursorFromPointerShape(colour), 1, 0), pixel(255, 0, 0, 128));

    // Rows that do not fit the pixels give no image rather than a read past them.
    mono.pixels.resize(mask.size() - 4);  // the last row lacks its byte
    EXPECT_TRUE(cursorFromPointerShape(mono).rgba.empty());
    colour.pitch = 4;  // less than a row
    EXPECT_TRUE(cursorFromPointerShape(colour).rgba.empty());
}

TEST(CursorPixels, AnImageHasOneIdWhateverElseDiffers) {
    CursorImage image;
    image.width = 1;
    image.height = 1;
    image.rgba = {1, 2, 3, 4};
    CursorImage same = image;
    same.scale = 2;
    same.standardName = "Arrow";
    EXPECT_EQ(cursorImageId(image), cursorImageId(same));
    EXPECT_EQ(cursorImageId(image).size(), 16u);
    CursorImage movedHotspot = image;
    movedHotspot.hotX = 1;
    CursorImage otherPixel = image;
    otherPixel.rgba[0] = 9;
    EXPECT_NE(cursorImageId(image), cursorImageId(movedHotspot));
    EXPECT_NE(cursorImageId(image), cursorImageId(otherPixel));
}

TEST(CursorImageFiles, PngFilesAreWrittenWithTheirSize) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "desktracks-cursor-test.png";
    std::vector<uint8_t> rgba(5 * 3 * 4, 0);
    for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 7);
    std::string reason;
    ASSERT_TRUE(writePngFile(file, 5, 3, rgba.data(), reason)) << reason;
    std::ifstream in(file, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::filesystem::remove(file);
    ASSERT_GT(bytes.size(), 33u);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 8),
              (std::vector<unsigned char>{0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a}));
    EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "IHDR");
    EXPECT_EQ(bytes[19], 5);  // width, big-endian
    EXPECT_EQ(bytes[23], 3);  // height
    EXPECT_EQ(bytes[25], 6);  // colour type: RGBA

    EXPECT_FALSE(writePngFile(std::filesystem::path("/nonexistent-folder") / "x.png", 5, 3, rgba.data(), reason));
    EXPECT_FALSE(reason.empty());
}

TEST(CursorImageFiles, TheJournalRebuildsTheIndexAndTheTimeline) {
    const std::string journal =
        R"({"kind":"cursorImage","id":"00000000000000aa","width":24,"height":24,"hotX":4,"hotY":4,"scale":1.25,"outlined":false,"standardName":"Arrow"})"
        "\n"
        R"({"kind":"cursorShown","time":1000,"id":"00000000000000aa"})"
        "\n"
        R"({"kind":"position","x":1,"y":2,"type":0,"button":0,"cursorName":"Arrow","time":1001})"
        "\n"
        R"({"kind":"cursorShown","time":1500,"id":null})"
        "\n"
        R"({"kind":"cursorShown","time":2000,"id":"00000000000000aa"})"
        "\n"
        R"({"kind":"cursorShown","time":25)";  // cut short by the process's death
    const CursorJournalFiles files = cursorFilesFromJournal(journal);
    EXPECT_EQ(files.imageCount, 1u);
    EXPECT_EQ(files.shownCount, 3u);
    std::vector<CursorImageEntry> images{{"00000000000000aa", 24, 24, 4, 4, 1.25, false, "Arrow"}};
    EXPECT_EQ(files.index, cursorIndexJson(images));
    std::vector<CursorShown> timeline{{1000, std::string("00000000000000aa")}, {1500, std::nullopt}, {2000, std::string("00000000000000aa")}};
    EXPECT_EQ(files.timeline, cursorTimelineJson(timeline));
    EXPECT_TRUE(cursorFilesFromJournal(R"({"kind":"position"})").index.empty());
}

// Shows a scripted sequence of cursors (an empty image: hidden), one per change, then waits for
// a wake-up or the wait's end.
class ScriptedCursorSource final : public CursorImageSource {
public:
    explicit ScriptedCursorSource(std::vector<CursorImage> shown) : shown(std::move(shown)) {}
    bool available() const override { return true; }
    bool waitForChange(int timeoutMs) override {
        std::unique_lock<std::mutex> lock(mutex);
        if (next < shown.size()) return true;
        const auto wakeful = [this] { return wakeRequested; };
        if (timeoutMs < 0) {
            woken.wait(lock, wakeful);
        } else {
            woken.wait_for(lock, std::chrono::milliseconds(timeoutMs), wakeful);
        }
        wakeRequested = false;
        return false;
    }
    bool read(CursorImage& image, bool& hidden) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (next >= shown.size()) return false;
        image = shown[next++];
        hidden = image.rgba.empty();
        return true;
    }
    void wake() override {
        std::lock_guard<std::mutex> lock(mutex);
        wakeRequested = true;
        woken.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable woken;
    bool wakeRequested = false;
    std::vector<CursorImage> shown;
    size_t next = 0;
};

CursorImage solid(uint8_t red, int32_t hotX) {
    CursorImage image;
    image.width = 2;
    image.height = 2;
    image.hotX = hotX;
    image.rgba = {red, 0, 0, 255, red, 0, 0, 255, red, 0, 0, 255, red, 0, 0, 255};
    return image;
}

std::filesystem::path freshProject(const char* name) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

std::string readText(const std::filesystem::path& file) { return (std::stringstream() << std::ifstream(file).rdbuf()).str(); }

TEST(CursorImageRecorder, KeepsEachImageOnceAndEveryChangeInOrder) {
    RecordingSettings settings;
    settings.projectDir = freshProject("desktracks-cursor-recorder");
    const CursorImage a = solid(10, 0);
    const CursorImage b = solid(10, 1);  // the same pixels, another hotspot: another image
    {
        CursorImageRecorder recorder(settings, std::make_unique<ScriptedCursorSource>(
                                                   std::vector<CursorImage>{a, a, b, CursorImage{}, a}));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const std::filesystem::path folder = settings.projectDir / "cursors";
    EXPECT_TRUE(std::filesystem::exists(folder / (cursorImageId(a) + ".png")));
    EXPECT_TRUE(std::filesystem::exists(folder / (cursorImageId(b) + ".png")));
    const auto index = nlohmann::json::parse(readText(folder / "index.json"));
    EXPECT_EQ(index["images"].size(), 2u);
    std::vector<nlohmann::json> ids;
    for (const auto& entry : nlohmann::json::parse(readText(folder / "timeline.json"))) ids.push_back(entry["id"]);
    EXPECT_EQ(ids, (std::vector<nlohmann::json>{cursorImageId(a), cursorImageId(b), nullptr, cursorImageId(a)}));
    std::filesystem::remove_all(settings.projectDir);
}

TEST(CursorImageRecorder, APointerHiddenAllAlongStillGetsItsTimeline) {
    RecordingSettings settings;
    settings.projectDir = freshProject("desktracks-cursor-hidden");
    CursorImageRecorder(settings, std::make_unique<ScriptedCursorSource>(std::vector<CursorImage>{CursorImage{}})).finish();
    const auto timeline = nlohmann::json::parse(readText(settings.projectDir / "cursors" / "timeline.json"));
    ASSERT_EQ(timeline.size(), 1u);
    EXPECT_TRUE(timeline[0]["id"].is_null());
    EXPECT_EQ(nlohmann::json::parse(readText(settings.projectDir / "cursors" / "index.json"))["images"].size(), 0u);
    std::filesystem::remove_all(settings.projectDir);
}

std::vector<nlohmann::json> timelineOf(const std::filesystem::path& project, std::vector<int64_t>* times = nullptr) {
    std::vector<nlohmann::json> ids;
    for (const auto& entry : nlohmann::json::parse(readText(project / "cursors" / "timeline.json"))) {
        ids.push_back(entry["id"]);
        if (times != nullptr) times->push_back(entry["time"].get<int64_t>());
    }
    return ids;
}

PointerShape shapeAt(PointerShape::Kind kind, int64_t time) {
    PointerShape shape;
    shape.kind = kind;
    shape.width = 2, shape.height = 2, shape.time = time, shape.hotX = 1;
    if (kind == PointerShape::Kind::monochrome) {
        shape.pitch = 4;
        for (const char* row : {"01", "10", "01", "00"}) maskRow(shape.pixels, row);
    } else {
        shape.pitch = 8;
        shape.pixels = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0, 255, 255, 255, 255};
        if (kind == PointerShape::Kind::colour) shape.pixels[3] = 128;
    }
    return shape;
}

// An animated cursor: the frames the screen track reports, each from the time it was drawn.
TEST(CursorImageRecorder, AnAnimatedCursorKeepsEachFrameTheDuplicationReportsAtItsTime) {
    RecordingSettings settings;
    settings.projectDir = freshProject("desktracks-cursor-animated");
    settings.pointerShapes = std::make_shared<PointerShapeFeed>();
    CursorImage firstFrame = solid(10, 0);
    firstFrame.animated = true;
    firstFrame.standardName = "AppStarting";
    const int64_t start = wallClockMillis();
    const std::vector<PointerShape> frames = {shapeAt(PointerShape::Kind::monochrome, start + 10),
                                              shapeAt(PointerShape::Kind::colour, start + 20),
                                              shapeAt(PointerShape::Kind::maskedColour, start + 30)};
    settings.pointerShapes->put(shapeAt(PointerShape::Kind::colour, start - 1000));  // an earlier cursor's
    for (const PointerShape& frame : frames) settings.pointerShapes->put(frame);
    {
        CursorImageRecorder recorder(settings, std::make_unique<ScriptedCursorSource>(std::vector<CursorImage>{firstFrame}));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // The animation comes round again: a frame kept already, while the recorder waits.
        settings.pointerShapes->put(shapeAt(PointerShape::Kind::monochrome, start + 40));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    std::vector<std::string> ids;
    for (const PointerShape& frame : frames) ids.push_back(cursorImageId(cursorFromPointerShape(frame)));
    std::vector<int64_t> times;
    EXPECT_EQ(timelineOf(settings.projectDir, &times), (std::vector<nlohmann::json>{ids[0], ids[1], ids[2], ids[0]}));
    EXPECT_EQ(times, (std::vector<int64_t>{start + 10, start + 20, start + 30, start + 40}));
    const auto index = nlohmann::json::parse(readText(settings.projectDir / "cursors" / "index.json"))["images"];
    ASSERT_EQ(index.size(), 3u) << "the first frame from the cursor's own bitmaps is not kept beside them";
    for (const auto& image : index) EXPECT_EQ(image["standardName"], "AppStarting");
    EXPECT_TRUE(std::filesystem::exists(settings.projectDir / "cursors" / (ids[2] + ".png")));
    std::filesystem::remove_all(settings.projectDir);
}

TEST(CursorImageRecorder, ShapesGoOnlyToAnimatedCursorsWhichKeepTheirFirstFrameWithoutThem) {
    RecordingSettings settings;
    settings.projectDir = freshProject("desktracks-cursor-no-frames");
    settings.pointerShapes = std::make_shared<PointerShapeFeed>();
    const CursorImage still = solid(10, 0);
    CursorImage animated = solid(20, 0);
    animated.animated = true;
    const int64_t start = wallClockMillis();
    // The still cursor's own shape, drawn before the animated cursor came.
    settings.pointerShapes->put(shapeAt(PointerShape::Kind::colour, start - 5));
    {
        CursorImageRecorder recorder(settings, std::make_unique<ScriptedCursorSource>(std::vector<CursorImage>{still, animated}));
        std::this_thread::sleep_for(std::chrono::milliseconds(2 * CursorImageRecorder::frameWaitMillis));
    }
    std::vector<int64_t> times;
    EXPECT_EQ(timelineOf(settings.projectDir, &times), (std::vector<nlohmann::json>{cursorImageId(still), cursorImageId(animated)}));
    ASSERT_EQ(times.size(), 2u);
    EXPECT_LT(times[1] - start, CursorImageRecorder::frameWaitMillis) << "dated when it was seen, not when the wait ended";
    std::filesystem::remove_all(settings.projectDir);

    // Replaced before a frame came or the wait ended: its first frame keeps its place.
    settings.projectDir = freshProject("desktracks-cursor-replaced");
    {
        CursorImageRecorder recorder(settings, std::make_unique<ScriptedCursorSource>(std::vector<CursorImage>{animated, still}));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(timelineOf(settings.projectDir), (std::vector<nlohmann::json>{cursorImageId(animated), cursorImageId(still)}));
    std::filesystem::remove_all(settings.projectDir);
}

#ifdef _WIN32
// The cursor calls themselves, as far as the system running the test has a cursor to show.
TEST(CursorImageSource, ReadsTheCursorInForce) {
    const auto source = openCursorImageSource();
    ASSERT_TRUE(source->available());
    CursorImage image;
    bool hidden = false;
    ASSERT_TRUE(source->read(image, hidden));
    if (!hidden) {
        EXPECT_GT(image.width, 0);
        EXPECT_EQ(image.rgba.size(), static_cast<size_t>(image.width) * image.height * 4);
    }
    source->wake();
    EXPECT_FALSE(source->waitForChange(1000));  // woken, or nothing changed
}
#endif

}  // namespace
