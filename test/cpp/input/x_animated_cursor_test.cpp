// An animated theme cursor on X: XFixes reports each frame without a name and the cursor itself
// first as a blank image under its name. Recorded frame by frame, named, never as hidden.
#include <gtest/gtest.h>

#include <X11/Xcursor/Xcursor.h>
#include <X11/Xlib.h>
#undef CursorShape  // X.h's; the name is ours

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "common/private_xvfb.h"
#include "input/cursor_image_recorder.h"
#include "platform/cursor_image_source.h"
#include "platform/cursor_source.h"

namespace input_test {
namespace {

// A theme of its own holding one cursor, "watch": two 8x8 frames, red then blue, 40 ms each.
std::filesystem::path makeTheme() {
    const std::filesystem::path root = std::filesystem::temp_directory_path() / "desktracks-cursor-theme";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "busy" / "cursors");
    XcursorImages* frames = XcursorImagesCreate(2);
    for (int i = 0; i < 2; ++i) {
        XcursorImage* frame = XcursorImageCreate(8, 8);
        frame->xhot = 1, frame->yhot = 2, frame->delay = 40;
        for (int p = 0; p < 64; ++p) frame->pixels[p] = i == 0 ? 0xffff0000u : 0xff0000ffu;
        frames->images[frames->nimage++] = frame;
    }
    const bool saved = XcursorFilenameSaveImages((root / "busy" / "cursors" / "watch").c_str(), frames) != 0;
    XcursorImagesDestroy(frames);
    return saved ? root : std::filesystem::path();
}

TEST(XAnimatedCursor, EachFrameIsRecordedWithTheStandardName) {
    const std::filesystem::path theme = makeTheme();
    ASSERT_FALSE(theme.empty());
    setenv("XCURSOR_PATH", theme.c_str(), 1);
    setenv("XCURSOR_THEME", "busy", 1);
    const test_support::PrivateXvfb xvfb;
    ASSERT_TRUE(xvfb.running);
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 200, 0, 0, 0);
    XMapWindow(display, window);
    XDefineCursor(display, window, XcursorLibraryLoadCursor(display, "watch"));
    XWarpPointer(display, None, window, 0, 0, 0, 0, 50, 50);
    XSync(display, False);

    RecordingSettings settings;
    settings.projectDir = theme / "project";
    std::filesystem::create_directories(settings.projectDir);
    {
        CursorImageRecorder recorder(settings);
        // The positions' cursor name, from the same frames.
        EXPECT_STREQ(openCursorSource()->currentCursorName(), "Wait");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    XCloseDisplay(display);

    const auto read = [&](const char* file) {
        return nlohmann::json::parse((std::stringstream() << std::ifstream(settings.projectDir / "cursors" / file).rdbuf()).str());
    };
    const auto images = read("index.json")["images"];
    ASSERT_EQ(images.size(), 2u) << images.dump();
    for (const auto& image : images) EXPECT_EQ(image["standardName"], "Wait");
    const auto timeline = read("timeline.json");
    EXPECT_GE(timeline.size(), 4u) << "the frames take turns";
    // The first frame from the start, not a hidden pointer, then each in turn.
    for (size_t i = 0; i < timeline.size(); ++i) EXPECT_EQ(timeline[i]["id"], images[i % 2]["id"]) << i;
    std::filesystem::remove_all(theme);
}

}  // namespace
}  // namespace input_test
