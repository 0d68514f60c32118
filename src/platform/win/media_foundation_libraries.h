#pragma once

#include <string>

// Whether the delay-loaded Media Foundation libraries (cmake/DelayLoad.cmake) can be loaded: they
// are missing on Windows N editions without the Media Feature Pack. `reason` says which is not.
// Every Windows platform object built on Media Foundation asks this before its first call; when
// they can, it binds all their imports (delay_load_binding.h) from the system folder.
bool mediaFoundationAvailable(std::string& reason);
