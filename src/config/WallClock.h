// The wall clock every event record carries: seconds since 1970 and the
// microseconds within that second. By default the microseconds come from a
// millisecond clock (milliseconds x 1000). With the property
// "internal.probe.clock.microseconds" set to true they come from a
// microsecond clock instead: the same field in the same unit, only finer, so
// that calls shorter than a millisecond no longer show as 0.
#pragma once

#include <cstdint>

// Reads the property; called once at start-up, after the property file is
// loaded. Until then (and whenever it is not "true") the millisecond clock
// is used.
void loadWallClockSetting();

// The wall clock as the event records take it.
void readWallClock(uint32_t* seconds, uint32_t* micros);
