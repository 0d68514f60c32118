#include "addon/recording_session.h"

#include <atomic>
#include <system_error>
#include <type_traits>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include "addon/live_status.h"
#include "addon/meta_json.h"
#include "addon/tracks_json.h"
#include "audio/mic_recorder.h"
#include "audio/playback_recorder.h"
#include "audio/silent_player.h"
#include "input/input_recorder.h"
#include "input/text_file.h"
#include "pointer_shape_feed.h"
#include "recording_journal.h"
#include "run_flags.h"
#include "screen/screen_recorder.h"
#include "utf8_path.h"
#include "webcam/webcam_recorder.h"

namespace {

// The run flags, the screen figures and the logger name are process-wide: one recording at a time.
std::atomic<bool> processRecording{false};

constexpr const char* loggerName = "basic_logger";

void joinIfRunning(std::thread& thread) {
    if (thread.joinable()) thread.join();
}

}  // namespace

RecorderEntryPoints defaultRecorderEntryPoints() {
    RecorderEntryPoints entries{};
    entries.silent = runSilentPlayer;
    entries.playback = runPlaybackRecorder;
    entries.screen = runScreenRecorder;
    entries.mic = runMicRecorder;
    entries.input = runInputRecorder;
    entries.webcam = recordWebcam;
    entries.requestInputStop = requestInputStop;
    entries.joinInput = joinInputRecorder;
    entries.launch = [](RecorderEntryPoints::Entry entry, RecordingSettings settings) {
        return std::thread(entry, std::move(settings));
    };
    return entries;
}

RecordingSession::RecordingSession(RecorderEntryPoints entryPoints) : entries(std::move(entryPoints)) {}

bool RecordingSession::anyRecording() { return processRecording.load(); }

void RecordingSession::begin() {
    if (processRecording.exchange(true)) {
        throw RecordingError("A recording is already running in this process; call end() before starting another");
    }

    const std::filesystem::path logPath = settings.projectDir / "recorder.log";
    try {
        // The path's own string type: wide on Windows, as spdlog takes it there.
        static_assert(std::is_same_v<spdlog::filename_t, std::filesystem::path::string_type>);
        settings.logger = spdlog::basic_logger_mt(loggerName, logPath.native(), false);
    } catch (const std::exception& e) {
        processRecording.exchange(false);
        throw RecordingError("Cannot open the recording log \"" + utf8FromPath(logPath) + "\": " + e.what());
    }

    // Every line reaches the file at once: lines are few, and a killed process keeps them all.
    settings.logger->flush_on(spdlog::level::trace);
    settings.journal = RecordingJournal::create(settings.projectDir);
    settings.pointerShapes = settings.cursorImages ? std::make_shared<PointerShapeFeed>() : nullptr;
    if (!settings.journal) settings.logger->error("{} cannot be created; a killed recording cannot be recovered", journalFileName);
    MetaFigures known;
    known.fps = static_cast<uint32_t>(settings.fps > 0 ? settings.fps : 30);
    known.micIndex = settings.micIndex;
    known.systemAudioIndex = settings.systemAudioIndex;
    journalMeta(settings, known);

    if (onTrackEvent) attachTrackEventListener(*settings.logger, onTrackEvent);
    beginLiveStatus();
    setAllRunFlags(true);
    recording = true;

    struct Launch {
        bool wanted;
        RecorderEntryPoints::Entry entry;
        std::thread* handle;
        const char* name;
    };
    const bool systemAudio = settings.systemAudioIndex != -1;
    const Launch launches[] = {
        {systemAudio, entries.silent, &silentThread, "keep-alive"},
        {systemAudio, entries.playback, &playbackThread, "system audio"},
        {true, entries.screen, &screenThread, "screen"},
        {settings.micIndex != -1, entries.mic, &micThread, "microphone"},
        {true, entries.input, &inputThread, "input"},
        {settings.webcamIndex != -1, entries.webcam, &webcamThread, "webcam"},
    };
    for (const Launch& launch : launches) {
        if (!launch.wanted || launch.entry == nullptr) continue;
        try {
            *launch.handle = entries.launch(launch.entry, settings);
        } catch (const std::exception& e) {
            // Take back what was started so the host is left with no recording at all.
            const std::string reason = e.what();
            entries.requestInputStop();
            setAllRunFlags(false);
            joinUpToInput();
            joinIfRunning(webcamThread);
            spdlog::drop(loggerName);
            settings.logger.reset();
            settings.journal.reset();
            settings.pointerShapes.reset();
            endLiveStatus();
            recording = false;
            processRecording.exchange(false);
            throw RecordingError(std::string("Cannot start the ") + launch.name + " recorder thread: " + reason);
        }
    }
}

void RecordingSession::joinUpToInput() {
    joinIfRunning(silentThread);
    joinIfRunning(playbackThread);
    joinIfRunning(screenThread);
    joinIfRunning(micThread);
    if (inputThread.joinable()) entries.joinInput(inputThread);
}

bool RecordingSession::writeMeta(std::FILE* out) const {
    const std::string meta = buildMetaJson(settings);
    const std::filesystem::path metaPath = settings.projectDir / "meta.json";
    std::string reason;
    if (!writeTextFile(metaPath, meta, &reason)) {
        // The path on standard output says the recording is complete; it is not.
        settings.logger->error("meta.json could not be written: {}", reason);
        return false;
    }
    const std::string line = quotedPathLine(metaPath);
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
    return true;
}

void RecordingSession::writeTracks() const {
    const RecordingStatusSnapshot status = readRecordingStatus();
    const std::string tracks = buildTracksJson(startedTracks(settings, entries.webcam != nullptr), status.failures, status.pauses);
    std::string reason;
    if (!writeTextFile(settings.projectDir / "tracks.json", tracks, &reason)) {
        settings.logger->error("tracks.json could not be written: {}", reason);
    }
}

void RecordingSession::finish(std::FILE* out) noexcept {
    if (!recording) return;

    markPauseEnd();
    entries.requestInputStop();
    setAllRunFlags(false);

    joinUpToInput();
    settings.logger->info("end");
    joinIfRunning(webcamThread);
    settings.logger->info("end");

    try {
        writeTracks();
        // The journal goes once every file it could rebuild is complete.
        const std::filesystem::path& dir = settings.projectDir;
        const bool complete = writeMeta(out) && std::filesystem::exists(dir / "positions.json") &&
                              std::filesystem::exists(dir / "clicks.json") &&
                              std::filesystem::exists(dir / "cursor_info.json");
        settings.journal.reset();
        settings.pointerShapes.reset();
        std::error_code ignored;
        if (complete) std::filesystem::remove(dir / journalFileName, ignored);
    } catch (const std::exception& e) {
        // Out of memory, say: the recording is ended all the same.
        settings.logger->error("meta.json could not be written: {}", e.what());
    }
    settings.logger->info("write end");
    endLiveStatus();

    settings.area = CaptureArea{};
    settings.display = -1;  // the area belongs to it
    settings.micIndex = -1;
    settings.systemAudioIndex = -1;

    settings.logger->flush();
    spdlog::drop(loggerName);
    settings.logger.reset();
    recording = false;
    processRecording.exchange(false);
}

bool RecordingSession::pause() { return recording && pauseRecordingTracks(); }

bool RecordingSession::resume() { return recording && resumeRecordingTracks(); }
