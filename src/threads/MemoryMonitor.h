// The memory monitor: estimates the memory the probe's queues hold and closes the data gate at its
// limit.
#pragma once

#include "base/NamedObject.h"

class MemoryMonitor : public NamedObject {
 public:
  MemoryMonitor();
  ~MemoryMonitor() override;
  void start();
  void stop();
};

extern MemoryMonitor* memoryMonitor;
