// The memory monitor: estimates the memory the probe's queues hold and closes
// the data gate at its limit, reopening it below the accept threshold.
#pragma once

#include <atomic>

#include "base/NamedObject.h"

class MemoryMonitor : public NamedObject {
 public:
  MemoryMonitor();
  ~MemoryMonitor() override;
  void start();
  // Clears the active flag.
  void stop();
};

extern MemoryMonitor* memoryMonitor;

// The data gate: true while the agent accepts no data. Read without a lock on
// every recording call.
extern std::atomic<bool> memoryGateClosed;
inline bool isMemoryGateClosed() { return memoryGateClosed.load(std::memory_order_relaxed); }
