#pragma once

#include <memory>
#include <vector>

#include "platform/linux/sample_buffer_pool.h"
#include "platform/video_writer.h"

class PooledVideoSample : public VideoSample {
public:
    PooledVideoSample(std::shared_ptr<SampleBufferPool> pool, uint32_t size) : pool(std::move(pool)), buffer(this->pool->take(size)) {}
    ~PooledVideoSample() override { pool->giveBack(std::move(buffer)); }

    HResult lock(uint8_t*& data, uint32_t& maxLength) override {
        data = buffer.data();
        maxLength = static_cast<uint32_t>(buffer.size());
        return hresult::ok;
    }
    HResult unlock() override { return hresult::ok; }
    HResult setCurrentLength(uint32_t length) override {
        if (length > buffer.size()) return hresult::invalidArgument;
        currentLength = length;
        return hresult::ok;
    }
    HResult setSampleTime(int64_t value) override {
        time = value;
        return hresult::ok;
    }
    HResult setSampleDuration(int64_t value) override {
        duration = value;
        return hresult::ok;
    }

    const uint8_t* data() const { return buffer.data(); }
    uint32_t length() const { return currentLength; }
    int64_t sampleTime() const { return time; }
    int64_t sampleDuration() const { return duration; }

private:
    std::shared_ptr<SampleBufferPool> pool;
    std::vector<uint8_t> buffer;
    uint32_t currentLength = 0;
    int64_t time = 0;
    int64_t duration = 0;
};
