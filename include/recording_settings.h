#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

namespace spdlog {
class logger;
}
class RecordingJournal;
class PointerShapeFeed;

// Capture rectangle in pixels of the recorded display (0, 0 is its top-left pixel); right and
// bottom are exclusive.
// It is in force only when right and bottom are both non-zero.
struct CaptureArea {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    bool inForce() const { return right != 0 && bottom != 0; }
};

// Which of the camera's native types the webcam track records.
struct WebcamFormat {
    enum class Rule {
        first,    // the first native type (the first one the track can record, when it cannot take that one)
        best,     // the largest frame up to 1920x1080 at 24 fps or more, uncompressed before compressed
        nearest,  // the type nearest to width x height at fps
    };
    Rule rule = Rule::first;
    uint32_t width = 0;
    uint32_t height = 0;
    double fps = 0;
};

// Everything one recording is made from. Every recorder thread receives its own copy;
// copying adds a holder to the shared recording logger and journal.
struct RecordingSettings {
    std::filesystem::path projectDir;
    int32_t micIndex = -1;
    int32_t systemAudioIndex = -1;
    CaptureArea area;
    std::shared_ptr<spdlog::logger> logger;
    std::shared_ptr<RecordingJournal> journal;  // null when it could not be created
    int32_t fps = 30;
    int32_t bitrate = 18000000;
    int32_t webcamIndex = -1;
    WebcamFormat webcamFormat;
    // Exactly fps screen samples a second on a 1/fps grid instead of one per capture pass.
    bool constantFrameRate = false;
    // A screen sample only when the picture changed, at the moment it was captured.
    bool changesOnly = false;
    // The display to record, as listDisplays() numbers them; -1 for the adapter's output 0.
    int32_t display = -1;
    // Every distinct cursor image shown is kept in cursors/, with a timeline of when each was in force.
    bool cursorImages = true;
    // The screen track's pointer shapes for the cursor images (the frames of animated cursors);
    // made by the session for each recording that keeps cursor images.
    std::shared_ptr<PointerShapeFeed> pointerShapes;
};
