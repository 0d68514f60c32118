// Pointer shapes through the platform layer's duplication over a scripted IDXGIOutputDuplication:
// read only from a frame that reports one, while it is held, dated by its mouse update.
#include <gtest/gtest.h>

#include <windows.h>
#include <dxgi1_2.h>

#include <cstring>
#include <deque>
#include <vector>

#include "platform/win/dxgi_duplication.h"
#include "wall_clock.h"

namespace {

struct Frame {
    DXGI_OUTDUPL_POINTER_SHAPE_INFO shape{};
    std::vector<uint8_t> pixels;  // none: the frame brings no new shape
    LONGLONG mouseTime = 0;
    HRESULT result = S_OK;
};

class ScriptedDuplication final : public IDXGIOutputDuplication {
public:
    std::deque<Frame> frames;
    int shapeReads = 0, readsUnheld = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override { return *object = nullptr, E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }  // lives on the test's stack
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID, UINT, const void*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID, const IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID, UINT*, void*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetParent(REFIID, void** parent) override { return *parent = nullptr, E_NOTIMPL; }
    void STDMETHODCALLTYPE GetDesc(DXGI_OUTDUPL_DESC* desc) override { *desc = DXGI_OUTDUPL_DESC{}; }
    HRESULT STDMETHODCALLTYPE AcquireNextFrame(UINT, DXGI_OUTDUPL_FRAME_INFO* info, IDXGIResource** resource) override {
        *resource = nullptr;
        *info = DXGI_OUTDUPL_FRAME_INFO{};
        if (frames.empty()) return DXGI_ERROR_WAIT_TIMEOUT;
        held = frames.front(), holding = true;
        frames.pop_front();
        info->PointerShapeBufferSize = static_cast<UINT>(held.pixels.size());
        info->LastMouseUpdateTime.QuadPart = held.mouseTime;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFrameDirtyRects(UINT, RECT*, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFrameMoveRects(UINT, DXGI_OUTDUPL_MOVE_RECT*, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFramePointerShape(UINT size, void* buffer, UINT* required, DXGI_OUTDUPL_POINTER_SHAPE_INFO* info) override {
        ++shapeReads;
        if (!holding) return ++readsUnheld, DXGI_ERROR_INVALID_CALL;
        *required = static_cast<UINT>(held.pixels.size());
        if (size < held.pixels.size()) return DXGI_ERROR_MORE_DATA;
        std::memcpy(buffer, held.pixels.data(), held.pixels.size());
        *info = held.shape;
        return held.result;
    }
    HRESULT STDMETHODCALLTYPE MapDesktopSurface(DXGI_MAPPED_RECT*) override { return DXGI_ERROR_UNSUPPORTED; }
    HRESULT STDMETHODCALLTYPE UnMapDesktopSurface() override { return DXGI_ERROR_UNSUPPORTED; }
    HRESULT STDMETHODCALLTYPE ReleaseFrame() override { return holding = false, S_OK; }

private:
    ULONG references = 1;
    Frame held;
    bool holding = false;
};

Frame shapeFrame(UINT type, UINT side, UINT height, UINT pitch, LONGLONG mouseTime) {
    return {{type, side, height, pitch, POINT{1, 2}}, std::vector<uint8_t>(static_cast<size_t>(height) * pitch, 0x80), mouseTime};
}

TEST(DxgiPointerShape, OnlyAFrameThatReportsANewShapeIsReadAndItIsDatedByTheMouseUpdate) {
    LARGE_INTEGER now{}, frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const int64_t wallNow = wallClockMillis();
    ScriptedDuplication system;
    system.frames = {Frame{},
                     shapeFrame(DXGI_OUTDUPL_POINTER_SHAPE_TYPE_MONOCHROME, 32, 64, 4, now.QuadPart - frequency.QuadPart / 20),
                     Frame{},
                     shapeFrame(DXGI_OUTDUPL_POINTER_SHAPE_TYPE_COLOR, 32, 32, 128, now.QuadPart),
                     shapeFrame(DXGI_OUTDUPL_POINTER_SHAPE_TYPE_MASKED_COLOR, 48, 48, 192, now.QuadPart),
                     shapeFrame(DXGI_OUTDUPL_POINTER_SHAPE_TYPE_COLOR, 32, 32, 128, now.QuadPart)};
    system.frames.back().result = DXGI_ERROR_ACCESS_LOST;
    const auto duplication = wrapOutputDuplication(Microsoft::WRL::ComPtr<IDXGIOutputDuplication>(&system));
    std::vector<bool> reported;
    std::vector<PointerShape> shapes;
    while (!system.frames.empty()) {
        std::unique_ptr<DesktopResource> resource;
        ASSERT_EQ(duplication->acquireNextFrame(0, resource), hresult::ok);
        PointerShape shape;
        reported.push_back(duplication->newPointerShape(shape));
        if (reported.back()) shapes.push_back(shape);
        duplication->releaseFrame();
    }
    EXPECT_EQ(reported, (std::vector<bool>{false, true, false, true, true, false}));
    EXPECT_EQ(system.shapeReads, 4) << "no read for a frame without a new shape";
    EXPECT_EQ(system.readsUnheld, 0);
    ASSERT_EQ(shapes.size(), 3u);
    EXPECT_EQ(shapes[0].kind, PointerShape::Kind::monochrome);
    EXPECT_EQ(shapes[0].height, 32) << "the reported height holds both masks";
    EXPECT_NEAR(static_cast<double>(shapes[0].time), static_cast<double>(wallNow - 50), 25.0);
    EXPECT_EQ(shapes[1].kind, PointerShape::Kind::colour);
    EXPECT_EQ(shapes[1].height, 32);
    EXPECT_EQ(shapes[2].kind, PointerShape::Kind::maskedColour);
    EXPECT_EQ(shapes[2].hotY, 2);
}

}  // namespace
