#pragma once

#include <dxgi1_2.h>
#include <wrl/client.h>

#include <memory>

#include "platform/video_capture.h"

// The platform layer's duplication around a system one, the desktop's orientation unknown.
std::unique_ptr<DesktopDuplication> wrapOutputDuplication(Microsoft::WRL::ComPtr<IDXGIOutputDuplication> duplication);
