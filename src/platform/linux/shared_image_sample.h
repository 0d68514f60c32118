#pragma once

#include <optional>
#include <vector>

#include "platform/video_writer.h"

// A sample that refers to the recorder's image instead of copying it: the recorder never changes
// an image a sample still holds.
class SharedImageSample : public VideoSample {
public:
    SharedImageSample(SampleImage image, uint32_t length) : image(std::move(image)), length(length) {}

    HResult setSampleTime(int64_t value) override {
        time = value;
        return hresult::ok;
    }
    HResult setSampleDuration(int64_t value) override {
        duration = value;
        return hresult::ok;
    }
    void setChangedRects(std::vector<ImageRect> rects) override { changed = std::move(rects); }

    const SampleImage image;
    const uint32_t length;
    int64_t time = 0;
    int64_t duration = 0;
    std::optional<std::vector<ImageRect>> changed;  // none: anywhere
};
