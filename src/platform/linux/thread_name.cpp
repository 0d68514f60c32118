#include "platform/thread_name.h"

#include <pthread.h>

void nameThisThread(const char* name) { pthread_setname_np(pthread_self(), name); }
