#include "input/cursor_image_recorder.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <system_error>

#include "input/text_file.h"
#include "platform/cursor_image_source.h"
#include "platform/png_file.h"
#include "platform/thread_dpi.h"
#include "platform/thread_name.h"
#include "pointer_shape_feed.h"
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
    // The cursor's bitmaps and the display's scale as the system draws them, not as it shows
    // them to a host that declared no scaling (96 dpi whatever the display's setting).
    const PhysicalPixelsOnThisThread physicalPixels;
    if (settings.pointerShapes) settings.pointerShapes->listen([this] { source->wake(); });
    capture();
    while (!stopping.load()) {
        const bool waitingForFrame = animated && !animated->recorded;
        const int64_t frameDue = waitingForFrame ? animated->seenAt + frameWaitMillis : 0;
        const int timeout = waitingForFrame ? static_cast<int>(std::clamp<int64_t>(frameDue - wallClockMillis(), 0, frameWaitMillis)) : -1;
        const bool changed = source->waitForChange(timeout);
        if (stopping.load()) break;
        // Woken by a shape, or the wait is over: the cursor is looked at before the shapes are
        // taken, so that they go to the cursor in force when they came.
        if (changed || source->waitForChange(0)) {
            capture();
        } else {
            useShapes();
        }
        if (animated && !animated->recorded && wallClockMillis() >= animated->seenAt + frameWaitMillis) {
            animated->recorded = true;
            record(animated->seenAt, &animated->firstFrame);
        }
    }
    if (settings.pointerShapes) settings.pointerShapes->listen(nullptr);
    if (animated && !animated->recorded) record(animated->seenAt, &animated->firstFrame);
}

void CursorImageRecorder::capture() {
    const int64_t now = wallClockMillis();
    CursorImage image;
    bool hidden = false;
    if (!source->read(image, hidden)) return;
    if (animated) {
        // The cursor going out keeps the frames drawn while it was in force, or its first frame
        // when none came, before the new one is recorded.
        useShapes(now);
        if (!animated->recorded) record(animated->seenAt, &animated->firstFrame);
    }
    animated.reset();
    if (hidden) {
        record(now, nullptr);
    } else if (image.animated && settings.pointerShapes) {
        // Its frames may be dated a little before it was seen, but never before the cursor
        // recorded before it.
        const int64_t framesFrom = timeline.empty() ? now - frameLeadMillis : std::max(now - frameLeadMillis, timeline.back().time + 1);
        animated = Animated{std::move(image), now, framesFrom, false};
        useShapes();
    } else {
        record(now, &image);
    }
}

void CursorImageRecorder::useShapes(int64_t before) {
    if (settings.pointerShapes) {
        for (PointerShape& shape : settings.pointerShapes->take()) recentShapes.push_back(std::move(shape));
    }
    if (!animated) {
        // Shapes of a cursor not seen yet: kept a little, in case it is an animated one.
        const int64_t oldest = wallClockMillis() - 2 * frameLeadMillis;
        while (!recentShapes.empty() && (recentShapes.size() > 16 || recentShapes.front().time < oldest)) recentShapes.pop_front();
        return;
    }
    const CursorImage& first = animated->firstFrame;
    std::deque<PointerShape> later;
    for (PointerShape& shape : recentShapes) {
        if (shape.time >= before) {
            later.push_back(std::move(shape));
            continue;
        }
        if (shape.time < animated->framesFrom) continue;
        CursorImage frame = cursorFromPointerShape(shape);
        if (frame.width <= 0) continue;
        frame.standardName = first.standardName;
        frame.animated = true;
        // The frames may come larger than the first frame's bitmaps (a scaled display): the
        // scale follows, so that width / scale is still the 1x size.
        frame.scale = first.width > 0 ? first.scale * frame.width / first.width : first.scale;
        animated->recorded = true;
        record(shape.time, &frame);
    }
    recentShapes = std::move(later);
}

void CursorImageRecorder::record(int64_t time, const CursorImage* image) {
    std::optional<std::string> id;
    if (image != nullptr) {
        id = cursorImageId(*image);
        if (kept.count(*id) == 0) keepImage(*image, *id);
    }
    if (anyShown && lastShown == id) return;
    anyShown = true;
    lastShown = id;
    // A frame dated before the last change is shown from that change on.
    timeline.push_back({timeline.empty() ? time : std::max(time, timeline.back().time), id});
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
