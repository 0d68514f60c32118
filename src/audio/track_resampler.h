#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Resamples a track's frames (16-bit mono) by a ratio close to 1 that changes as the device's
// clock is measured, with miniaudio's linear resampler. Its state carries over from one call to
// the next, so a changing ratio joins the frames without a seam.
class TrackResampler {
public:
    TrackResampler();
    ~TrackResampler();
    TrackResampler(const TrackResampler&) = delete;
    TrackResampler& operator=(const TrackResampler&) = delete;

    // Forgets the frames held from the last call (a new recording).
    void reset();
    // `count` frames become about `count` × `ratio` frames (output frames per input frame); the
    // result stays valid until the next call.
    const int16_t* process(const int16_t* frames, uint32_t count, double ratio, uint32_t& produced);

private:
    struct State;
    std::unique_ptr<State> state;
};
