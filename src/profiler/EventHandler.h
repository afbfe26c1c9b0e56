// The single profiler event callback of the library.
#pragma once

#include "platform/jvmpi.h"

void notifyEvent(JVMPI_Event* event);

// Installs notifyEvent as the interface's NotifyEvent entry unless an entry
// is already installed.
void installEventHandler();
