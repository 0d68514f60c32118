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
// Passing states of a desktop that cannot be duplicated for now (a secure desktop, a mode change,
// a full-screen application, a remote session) and of a device that has to be made again.
constexpr HResult accessDenied = static_cast<HResult>(0x80070005u);
constexpr HResult unsupported = static_cast<HResult>(0x887A0004u);
constexpr HResult deviceRemoved = static_cast<HResult>(0x887A0005u);
constexpr HResult deviceHung = static_cast<HResult>(0x887A0006u);
constexpr HResult deviceReset = static_cast<HResult>(0x887A0007u);
constexpr HResult driverInternalError = static_cast<HResult>(0x887A0020u);
constexpr HResult notCurrentlyAvailable = static_cast<HResult>(0x887A0022u);
constexpr HResult sessionDisconnected = static_cast<HResult>(0x887A0028u);
// A writer finished without any sample.
constexpr HResult noSamplesProcessed = static_cast<HResult>(0xC00D4A44u);
}  // namespace hresult

inline bool failed(HResult result) { return result < 0; }
inline bool succeeded(HResult result) { return result >= 0; }
