// What tests reach of the probe state. Included by tests only (and by
// ProbeState.cpp, which defines it).
#pragma once

// Returns the probe state to its values at process start.
void resetProbeState();
