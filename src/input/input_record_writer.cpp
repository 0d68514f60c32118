#include "input/input_record_writer.h"

#include <fmt/format.h>

#include "input/input_record_text.h"
#include "recording_journal.h"
#include "track_events.h"

InputRecordWriter::InputRecordWriter(std::shared_ptr<RecordingJournal> recordingJournal, std::shared_ptr<spdlog::logger> log,
                                     size_t capacity)
    : records(capacity), journal(std::move(recordingJournal)), logger(std::move(log)) {}

InputRecordWriter::~InputRecordWriter() { stop(); }

void InputRecordWriter::start(std::chrono::milliseconds interval) {
    if (thread.joinable()) return;
    stopping = false;
    thread = std::thread([this, interval] {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopping) {
            // The hook never signals (that would take a lock on its thread): the writer looks.
            wake.wait_for(lock, interval, [this] { return stopping; });
            lock.unlock();
            drain();
            lock.lock();
        }
    });
}

void InputRecordWriter::stop() {
    if (thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
    }
    drain();
    reportLosses(true);
}

void InputRecordWriter::drain() {
    records.drain([this](const QueuedInputRecord& queued) {
        (queued.click ? clickRecords : positionRecords).push_back(queued.record);
        if (journal) {
            appendJournalLine(lines, queued.record, queued.click);
            lines += '\n';
        }
    });
    if (!lines.empty()) {
        journal->appendText(lines);
        lines.clear();
    }
    reportLosses(false);
}

void InputRecordWriter::reportLosses(bool atEnd) {
    const uint64_t lost = records.lostRecords();
    if (lost == lostReported || !logger) return;
    // Said when the losses start, and their total at the end if more followed: not on every pass.
    if (!atEnd && lostReported != 0) return;
    if (!atEnd) {
        reportTrackEvent(*logger, TrackEventKind::warning, "input", TrackEventCode::queueFull,
                         fmt::format("input: the input queue is full; mouse records are being lost ({} so far)", lost));
    } else {
        reportTrackEvent(*logger, TrackEventKind::warning, "input", TrackEventCode::queueFull,
                         fmt::format("input: {} mouse records were lost in all because the input queue was full", lost));
    }
    lostReported = lost;
}
