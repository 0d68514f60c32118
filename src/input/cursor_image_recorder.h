#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "input/cursor_images.h"
#include "platform/pointer_shape.h"
#include "recording_settings.h"

class CursorImageSource;

// Keeps the cursor images of a recording on a thread of its own, woken only when the cursor
// changes, so the input hook's thread never waits for an image to be read or written.
//
// An animated cursor's source gives one frame. While one is in force, the frames the screen
// track's duplication reports (settings.pointerShapes) are recorded instead, each from the
// time the system drew it; without them the first frame stands.
class CursorImageRecorder {
public:
    // Starts watching at once; the image in force now is the first one kept.
    explicit CursorImageRecorder(const RecordingSettings& settings);
    CursorImageRecorder(const RecordingSettings& settings, std::unique_ptr<CursorImageSource> source);
    // Stops watching and writes cursors/index.json and cursors/timeline.json.
    ~CursorImageRecorder();
    CursorImageRecorder(const CursorImageRecorder&) = delete;
    CursorImageRecorder& operator=(const CursorImageRecorder&) = delete;

    // Stops watching and writes both files; later calls do nothing.
    void finish();

    // How long an animated cursor waits for the duplication's frame before its first frame is
    // recorded instead, and how long before the cursor was seen a frame may be dated: the
    // cursor is looked at every 16 ms, the duplication dates a shape when it was drawn.
    static constexpr int64_t frameWaitMillis = 100;
    static constexpr int64_t frameLeadMillis = 40;

private:
    // The animated cursor in force.
    struct Animated {
        CursorImage firstFrame;
        int64_t seenAt = 0;
        int64_t framesFrom = 0;  // frames dated earlier belong to the cursors before it
        bool recorded = false;   // an image of it is in the timeline
    };

    void run();
    void capture();
    // Takes the duplication's new shapes; frames of the animated cursor in force are recorded.
    // Records the queued shapes dated before `before` as frames of the animated cursor in force;
    // later ones wait for the next cursor.
    void useShapes(int64_t before = INT64_MAX);
    void record(int64_t time, const CursorImage* image);
    void keepImage(const CursorImage& image, const std::string& id);
    void warnOnce(const std::string& what);

    RecordingSettings settings;
    std::filesystem::path folder;
    std::unique_ptr<CursorImageSource> source;
    std::atomic<bool> stopping{false};
    bool finished = false;
    bool warned = false;
    bool anyShown = false;
    std::optional<std::string> lastShown;
    std::set<std::string> kept;
    std::vector<CursorImageEntry> images;
    std::vector<CursorShown> timeline;
    std::optional<Animated> animated;
    std::deque<PointerShape> recentShapes;  // not yet matched to a cursor
    std::thread thread;
};
