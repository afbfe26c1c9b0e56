// What tests reach of the agents' cycle wait. Included by tests only (and by
// PublishSettings.cpp, which defines it).
#pragma once

// Replaces the timed wait between two cycles with a hook, so that a test
// steps the loops one cycle at a time; `agent` tells which agent waits. Null
// restores the wait.
using CycleWaitHook = void (*)(const void* agent, int millis);
void setCycleWaitHook(CycleWaitHook hook);
