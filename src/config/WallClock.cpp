#include "config/WallClock.h"

#include <strings.h>

#include <atomic>

#include "config/PropertyMgr.h"
#include "platform/os.h"

namespace {
// Read on every record of every thread; set once at start-up.
std::atomic<bool> microsecondClock{false};
}  // namespace

void loadWallClockSetting() {
  const char* value = getProperty("internal.probe.clock.microseconds");
  microsecondClock.store(value != nullptr && strcasecmp(value, "true") == 0,
                         std::memory_order_relaxed);
}

void readWallClock(uint32_t* seconds, uint32_t* micros) {
  uint32_t s = 0;
  uint32_t us = 0;
  os::wallClock(&s, &us);
  if (!microsecondClock.load(std::memory_order_relaxed)) us = us / 1000 * 1000;
  if (seconds) *seconds = s;
  if (micros) *micros = us;
}
