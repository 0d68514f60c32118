#include "platform/host_imports.h"

// The dynamic loader binds Node-API's symbols itself.
void bindHostImports() {}
