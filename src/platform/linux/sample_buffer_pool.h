#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// Reuses sample buffers: a fresh multi-megabyte allocation per frame costs a page fault per 4 KiB.
class SampleBufferPool {
public:
    std::vector<uint8_t> take(size_t size) {
        std::vector<uint8_t> buffer;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!spare.empty()) {
                buffer = std::move(spare.back());
                spare.pop_back();
            }
        }
        buffer.resize(size);
        return buffer;
    }

    void giveBack(std::vector<uint8_t>&& buffer) {
        std::lock_guard<std::mutex> lock(mutex);
        if (spare.size() < maxSpare) spare.push_back(std::move(buffer));
    }

private:
    static constexpr size_t maxSpare = 8;
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> spare;
};

