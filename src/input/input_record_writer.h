#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "input/input_record_queue.h"

namespace spdlog {
class logger;
}
class RecordingJournal;

// Room for about a minute and a half of records at the gate's rate: the writer drains it ten
// times a second, so only a writer stalled that long (a journal on a hung network share) loses any.
constexpr size_t inputQueueCapacity = 8192;

// The thread that takes the hook's records off its queue: it keeps them for positions.json and
// clicks.json (positionRecords, clickRecords) and appends them to the journal, flushed on every
// pass, so the hook itself does no file I/O. Losses of a full queue are said once when they
// start and in total at the end.
class InputRecordWriter {
public:
    InputRecordWriter(std::shared_ptr<RecordingJournal> journal, std::shared_ptr<spdlog::logger> logger,
                      size_t capacity = inputQueueCapacity);
    ~InputRecordWriter();
    InputRecordWriter(const InputRecordWriter&) = delete;
    InputRecordWriter& operator=(const InputRecordWriter&) = delete;

    InputRecordQueue& queue() { return records; }

    // Drains the queue every `interval` on a thread of its own until stop().
    void start(std::chrono::milliseconds interval = std::chrono::milliseconds(100));
    // Ends the thread and drains what is left; afterwards the lists are complete.
    void stop();
    // One pass: the queued records into the lists and the journal. Only one thread at a time.
    void drain();

private:
    void reportLosses(bool atEnd);

    InputRecordQueue records;
    std::shared_ptr<RecordingJournal> journal;
    std::shared_ptr<spdlog::logger> logger;
    std::string lines;  // the pass's journal text, reused
    uint64_t lostReported = 0;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};
