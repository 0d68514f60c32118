#pragma once

#include <windows.h>

#include <mmdeviceapi.h>

#include <functional>
#include <memory>

#include "platform/default_output_watch.h"

// Makes the endpoint enumerator a watch registers with; called on the watch's own thread, in the
// multi-threaded apartment.
using EndpointEnumeratorFactory = std::function<HRESULT(IMMDeviceEnumerator** enumerator)>;

// The watch on the default render endpoint (console role) through the enumerator that `create`
// makes; watchDefaultOutput() passes the system's. One that never reports a change when the
// enumerator cannot be made or refuses the notification callback. Never null.
std::unique_ptr<DefaultOutputWatch> watchDefaultOutputWith(EndpointEnumeratorFactory create);
