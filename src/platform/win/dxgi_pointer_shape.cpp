#include "platform/win/dxgi_pointer_shape.h"

#include "wall_clock.h"

namespace {

// Larger than any pointer the system draws; a size beyond it is not a shape to read.
constexpr UINT largestSide = 1024;

}  // namespace

bool readPointerShape(IDXGIOutputDuplication& duplication, const DXGI_OUTDUPL_FRAME_INFO& frame, PointerShape& shape) {
    // A frame reports a new shape by the size of its buffer; without one there is nothing to read.
    if (frame.PointerShapeBufferSize == 0) return false;
    shape.pixels.resize(frame.PointerShapeBufferSize);
    UINT required = 0;
    DXGI_OUTDUPL_POINTER_SHAPE_INFO info{};
    if (FAILED(duplication.GetFramePointerShape(frame.PointerShapeBufferSize, shape.pixels.data(), &required, &info))) return false;
    if (required < shape.pixels.size()) shape.pixels.resize(required);
    if (info.Type != DXGI_OUTDUPL_POINTER_SHAPE_TYPE_MONOCHROME && info.Type != DXGI_OUTDUPL_POINTER_SHAPE_TYPE_COLOR &&
        info.Type != DXGI_OUTDUPL_POINTER_SHAPE_TYPE_MASKED_COLOR) {
        return false;
    }
    if (info.Width == 0 || info.Height == 0 || info.Width > largestSide || info.Height > 2 * largestSide || info.Pitch > 4 * largestSide) {
        return false;
    }
    shape.kind = static_cast<PointerShape::Kind>(info.Type);
    shape.width = static_cast<int32_t>(info.Width);
    shape.pitch = static_cast<int32_t>(info.Pitch);
    shape.hotX = info.HotSpot.x;
    shape.hotY = info.HotSpot.y;
    shape.height = static_cast<int32_t>(info.Height);
    // A monochrome shape's height counts its AND and XOR masks both; a buffer that holds two
    // masks of the full height says otherwise.
    if (shape.kind == PointerShape::Kind::monochrome && shape.pixels.size() < 2 * static_cast<size_t>(info.Height) * info.Pitch) {
        shape.height /= 2;
    }
    shape.time = frame.LastMouseUpdateTime.QuadPart != 0 ? wallMillisOfPerformanceCount(frame.LastMouseUpdateTime.QuadPart) : wallClockMillis();
    return true;
}

int64_t wallMillisOfPerformanceCount(int64_t count) {
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&now);
    const int64_t wall = wallClockMillis();
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 || count > now.QuadPart) return wall;
    const int64_t elapsed = now.QuadPart - count;
    return wall - (elapsed / frequency.QuadPart) * 1000 - (elapsed % frequency.QuadPart) * 1000 / frequency.QuadPart;
}
