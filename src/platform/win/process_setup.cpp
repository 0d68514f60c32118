#include "platform/process_setup.h"

// Each recorder thread initialises COM for itself; nothing is process-wide here.
void prepareProcessForRecorderThreads() {}
