#include "pointer_shape_feed.h"

void PointerShapeFeed::put(PointerShape shape) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (queued.size() >= capacity) queued.pop_front();
        queued.push_back(std::move(shape));
    }
    const std::lock_guard<std::mutex> lock(listenerMutex);
    if (onPut) onPut();
}

std::vector<PointerShape> PointerShapeFeed::take() {
    const std::lock_guard<std::mutex> lock(mutex);
    std::vector<PointerShape> taken(std::make_move_iterator(queued.begin()), std::make_move_iterator(queued.end()));
    queued.clear();
    return taken;
}

void PointerShapeFeed::listen(std::function<void()> listener) {
    const std::lock_guard<std::mutex> lock(listenerMutex);
    onPut = std::move(listener);
}
