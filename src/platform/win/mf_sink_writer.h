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
// keyFrameSpacing (frames, 0 for the encoder's choice) bounds the fragments of a fragmented file.
std::unique_ptr<SinkWriter> wrapMfSinkWriter(Microsoft::WRL::ComPtr<IMFSinkWriter> writer, std::wstring path,
                                             uint32_t keyFrameSpacing = 0);
// A sample the wrapped writer takes as it is, without a copy.
std::unique_ptr<VideoSample> wrapMfSample(Microsoft::WRL::ComPtr<IMFSample> sample);
