#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "input/cursor_images.h"
#include "recording_settings.h"

class CursorImageSource;

// Keeps the cursor images of a recording on a thread of its own, woken only when the cursor
// changes, so the input hook's thread never waits for an image to be read or written.
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

private:
    void run();
    void capture();
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
    std::thread thread;
};
