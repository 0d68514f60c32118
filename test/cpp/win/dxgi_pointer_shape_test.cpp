// The pointer shapes of desktop duplication through the platform layer's own duplication, over a
// scripted IDXGIOutputDuplication: a shape is read only from a frame that reports one, while the
// frame is held, and dated by the frame's mouse update time.
#include <gtest/gtest.h>

#include <windows.h>
#include <dxgi1_2.h>

#include <cstring>
#include <deque>
#include <vector>

#include "platform/win/dxgi_duplication.h"
#include "wall_clock.h"

namespace {

class ScriptedDuplication final : public IDXGIOutputDuplication {
public:
    struct Frame {
        DXGI_OUTDUPL_POINTER_SHAPE_INFO shape{};  // Type 0: the frame brings no new shape
        std::vector<uint8_t> pixels;
        LONGLONG mouseTime = 0;
        HRESULT result = S_OK;
    };
    std::deque<Frame> frames;
    int shapeReads = 0;
    int readsUnheld = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid != __uuidof(IUnknown) && iid != __uuidof(IDXGIObject) && iid != __uuidof(IDXGIOutputDuplication)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }  // lives on the test's stack
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID, UINT, const void*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID, const IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID, UINT*, void*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetParent(REFIID, void** parent) override { return *parent = nullptr, E_NOTIMPL; }
    void STDMETHODCALLTYPE GetDesc(DXGI_OUTDUPL_DESC* desc) override {
        *desc = DXGI_OUTDUPL_DESC{};
        desc->ModeDesc.Width = 4, desc->ModeDesc.Height = 3, desc->Rotation = DXGI_MODE_ROTATION_IDENTITY;
    }
    HRESULT STDMETHODCALLTYPE AcquireNextFrame(UINT, DXGI_OUTDUPL_FRAME_INFO* info, IDXGIResource** resource) override {
        *resource = nullptr;
        *info = DXGI_OUTDUPL_FRAME_INFO{};
        if (frames.empty()) return DXGI_ERROR_WAIT_TIMEOUT;
        held = frames.front();
        frames.pop_front();
        holding = true;
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

ScriptedDuplication::Frame shapeFrame(UINT type, UINT width, UINT height, UINT pitch, LONGLONG mouseTime) {
    ScriptedDuplication::Frame frame;
    frame.shape = {type, width, height, pitch, POINT{1, 2}};
    frame.pixels.assign(static_cast<size_t>(height) * pitch, 0x80);
    frame.mouseTime = mouseTime;
    return frame;
}

TEST(DxgiPointerShape, OnlyAFrameThatReportsANewShapeIsReadAndItIsDatedByTheMouseUpdate) {
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const int64_t wallNow = wallClockMillis();
    const LONGLONG fiftyMillisAgo = now.QuadPart - frequency.QuadPart / 20;

    ScriptedDuplication system;
    system.frames = {ScriptedDuplication::Frame{},
                     shapeFrame(DXGI_OUTDUPL_POINTER_SHAPE_TYPE_MONOCHROME, 32, 64, 4, fiftyMillisAgo),  // both masks: 32 rows
                     ScriptedDuplication::Frame{},
                     shapeFrame(DXGI_OUTDUPL_POINTER_SHAPE_TYPE_COLOR, 32, 32, 128, now.QuadPart),
                     shapeFrame(DXGI_OUTDUPL_POINTER_SHAPE_TYPE_MASKED_COLOR, 48, 48, 192, now.QuadPart),
                     shapeFrame(DXGI_OUTDUPL_POINTER_SHAPE_TYPE_COLOR, 32, 32, 128, now.QuadPart)};
    system.frames.back().result = DXGI_ERROR_ACCESS_LOST;
    {
        const std::unique_ptr<DesktopDuplication> duplication = wrapOutputDuplication(Microsoft::WRL::ComPtr<IDXGIOutputDuplication>(&system));
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
        EXPECT_EQ(shapes[0].height, 32);
        EXPECT_EQ(shapes[0].pitch, 4);
        EXPECT_NEAR(static_cast<double>(shapes[0].time), static_cast<double>(wallNow - 50), 25.0);
        EXPECT_EQ(shapes[1].kind, PointerShape::Kind::colour);
        EXPECT_EQ(shapes[1].height, 32);
        EXPECT_EQ(shapes[2].kind, PointerShape::Kind::maskedColour);
        EXPECT_EQ(shapes[2].width, 48);
        EXPECT_EQ(shapes[2].hotX, 1);
        EXPECT_EQ(shapes[2].hotY, 2);
        EXPECT_EQ(shapes[2].pixels.size(), 48u * 192u);
    }
}

}  // namespace
