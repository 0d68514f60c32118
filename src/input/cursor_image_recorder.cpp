#include "input/cursor_image_recorder.h"

#include <spdlog/spdlog.h>

#include <nlohmann/json.hpp>
#include <system_error>

#include "input/text_file.h"
#include "platform/cursor_image_source.h"
#include "platform/png_file.h"
#include "platform/thread_name.h"
#include "recording_journal.h"
#include "track_events.h"
#include "wall_clock.h"

CursorImageRecorder::CursorImageRecorder(const RecordingSettings& settings)
    : CursorImageRecorder(settings, openCursorImageSource()) {}

CursorImageRecorder::CursorImageRecorder(const RecordingSettings& settings, std::unique_ptr<CursorImageSource> source)
    : settings(settings), folder(settings.projectDir / cursorFolderName), source(std::move(source)) {
    if (!settings.cursorImages || !this->source || !this->source->available()) return;
    thread = std::thread([this] { run(); });
}

CursorImageRecorder::~CursorImageRecorder() { finish(); }

void CursorImageRecorder::finish() {
    if (finished) return;
    finished = true;
    stopping.store(true);
    if (source) source->wake();
    if (thread.joinable()) thread.join();
    if (images.empty() && timeline.empty()) return;
    // A pointer hidden all along leaves a timeline but no image, and so no folder yet.
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    std::string reason;
    if (!writeTextFile(folder / cursorIndexFileName, cursorIndexJson(images), &reason) ||
        !writeTextFile(folder / cursorTimelineFileName, cursorTimelineJson(timeline), &reason)) {
        warnOnce("the cursor image files could not be written (" + reason + ")");
    }
}

void CursorImageRecorder::run() {
    nameThisThread("cursor images");
    capture();
    while (!stopping.load()) {
        if (source->waitForChange(-1) && !stopping.load()) capture();
    }
}

void CursorImageRecorder::capture() {
    const int64_t now = wallClockMillis();
    CursorImage image;
    bool hidden = false;
    if (!source->read(image, hidden)) return;
    std::optional<std::string> id;
    if (!hidden) {
        id = cursorImageId(image);
        if (kept.count(*id) == 0) keepImage(image, *id);
    }
    if (anyShown && lastShown == id) return;
    anyShown = true;
    lastShown = id;
    timeline.push_back({now, id});
    if (settings.journal) {
        nlohmann::json line = cursorShownJson(timeline.back());
        line["kind"] = "cursorShown";
        settings.journal->append(line.dump());
    }
}

void CursorImageRecorder::keepImage(const CursorImage& image, const std::string& id) {
    kept.insert(id);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    std::string reason;
    if (error) {
        warnOnce("the folder " + std::string(cursorFolderName) + " could not be made (" + error.message() + ")");
        return;
    }
    if (image.width <= 0 || image.height <= 0 ||
        !writePngFile(folder / (id + ".png"), image.width, image.height, image.rgba.data(), reason)) {
        warnOnce("a cursor image could not be written (" + (reason.empty() ? std::string("empty image") : reason) + ")");
        return;
    }
    images.push_back(cursorImageEntry(image, id));
    if (settings.journal) {
        nlohmann::json line = cursorImageJson(images.back());
        line["kind"] = "cursorImage";
        settings.journal->append(line.dump());
    }
}

void CursorImageRecorder::warnOnce(const std::string& what) {
    if (warned || !settings.logger) return;
    warned = true;
    reportTrackEvent(*settings.logger, TrackEventKind::warning, "input", TrackEventCode::writeFailed, "input: " + what);
}
