#pragma once

// Binds the add-on's imports from its host (Node-API) before the first of them is called: the
// first thing the module's initialisation does. Nothing to do where the loader binds them itself.
void bindHostImports();
