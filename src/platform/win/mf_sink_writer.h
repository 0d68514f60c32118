#pragma once

#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <memory>
#include <string>

#include "platform/video_writer.h"

// The sink writer layer's Media Foundation objects, for writers configured outside
// MfMediaPlatform (the camera's, which takes the camera's own media type).

// Owns the writer: completes the file if dropped after writing, removes it if nothing was written.
std::unique_ptr<SinkWriter> wrapMfSinkWriter(Microsoft::WRL::ComPtr<IMFSinkWriter> writer, std::wstring path);
// A sample the wrapped writer takes as it is, without a copy.
std::unique_ptr<VideoSample> wrapMfSample(Microsoft::WRL::ComPtr<IMFSample> sample);
