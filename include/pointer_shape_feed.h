#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/pointer_shape.h"

// Hands the pointer shapes the screen track's duplication reports to the cursor image recorder.
// put() only queues and wakes, so the screen thread never waits for an image to be converted
// or written. Thread-safe.
class PointerShapeFeed {
public:
    // Shapes not taken are dropped oldest first beyond this many; a recorder that fell this far
    // behind wants the newest.
    static constexpr size_t capacity = 16;

    void put(PointerShape shape);
    // Everything put since the last take, oldest first.
    std::vector<PointerShape> take();
    // Called after each put, on the putting thread; an empty function stops the calls. Returns
    // once no earlier listener is running.
    void listen(std::function<void()> listener);

private:
    std::mutex mutex;
    std::deque<PointerShape> queued;
    std::mutex listenerMutex;
    std::function<void()> onPut;
};
