#include "platform/host_imports.h"

#include "platform/win/delay_load_binding.h"

// Node-API comes delay-loaded from the host executable (cmake/DelayLoad.cmake). This file is part
// of the add-on module only, the one module that imports it.
extern "C" const ImgDelayDescr DESKTRACKS_NODE_DELAY_DESCRIPTOR;

void bindHostImports() { bindDelayLoadedImports(DESKTRACKS_NODE_DELAY_DESCRIPTOR); }
