#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "input/input_records.h"

// One record on its way from the hook to the writer.
struct QueuedInputRecord {
    InputRecord record;
    bool click;  // clickRecords, else positionRecords
};

// A bounded queue from the input hook (one producer) to the record writer (one consumer): a push
// takes no lock and allocates nothing, so a slow writer can never hold up the system's pointer.
// When the queue is full a record is counted as lost instead.
class InputRecordQueue {
public:
    explicit InputRecordQueue(size_t capacity) : slots(capacity) {}
    InputRecordQueue(const InputRecordQueue&) = delete;
    InputRecordQueue& operator=(const InputRecordQueue&) = delete;

    // Hook thread. False (and counted as lost) when the queue is full.
    bool push(const QueuedInputRecord& record) {
        const size_t tail = end.load(std::memory_order_relaxed);
        if (tail - begin.load(std::memory_order_acquire) >= slots.size()) {
            lost.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        slots[tail % slots.size()] = record;
        end.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Writer thread: hands every queued record to `take`, oldest first, and frees their slots.
    template <typename Take>
    size_t drain(Take&& take) {
        const size_t head = begin.load(std::memory_order_relaxed);
        const size_t tail = end.load(std::memory_order_acquire);
        for (size_t at = head; at != tail; ++at) take(slots[at % slots.size()]);
        begin.store(tail, std::memory_order_release);
        return tail - head;
    }

    // Records the hook could not queue since the queue was made.
    uint64_t lostRecords() const { return lost.load(std::memory_order_relaxed); }
    size_t capacity() const { return slots.size(); }

private:
    std::vector<QueuedInputRecord> slots;
    alignas(64) std::atomic<size_t> begin{0};
    alignas(64) std::atomic<size_t> end{0};
    std::atomic<uint64_t> lost{0};
};
