#pragma once

#include <cstdint>

// Results of the video platform layer: HRESULT-style codes, negative meaning failure.
using HResult = int32_t;

namespace hresult {
constexpr HResult ok = 0;
constexpr HResult fail = static_cast<HResult>(0x80004005u);
constexpr HResult notImplemented = static_cast<HResult>(0x80004001u);
constexpr HResult noInterface = static_cast<HResult>(0x80004002u);
constexpr HResult invalidArgument = static_cast<HResult>(0x80070057u);
constexpr HResult outOfMemory = static_cast<HResult>(0x8007000Eu);
constexpr HResult invalidState = static_cast<HResult>(0x8007139Fu);
// The duplication results the capture loop tells apart.
constexpr HResult notFound = static_cast<HResult>(0x887A0002u);
constexpr HResult waitTimeout = static_cast<HResult>(0x887A0027u);
constexpr HResult accessLost = static_cast<HResult>(0x887A0026u);
// What DuplicateOutput answers when this device cannot duplicate this output.
constexpr HResult unsupported = static_cast<HResult>(0x887A0004u);
constexpr HResult notCurrentlyAvailable = static_cast<HResult>(0x887A0022u);
// A writer finished without any sample.
constexpr HResult noSamplesProcessed = static_cast<HResult>(0xC00D4A44u);
}  // namespace hresult

inline bool failed(HResult result) { return result < 0; }
inline bool succeeded(HResult result) { return result >= 0; }
