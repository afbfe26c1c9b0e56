// The memory monitor: estimates the memory the probe's queues hold and closes
// the data gate at its limit, reopening it only once the estimate has fallen
// the accept threshold below the limit. It also owns the text limits and the
// text size estimates that the request natives use.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/HalLock.h"
#include "base/NamedObject.h"
#include "config/ThreadSettings.h"

class MemoryMonitor : public NamedObject {
 public:
  // Nominal bytes of one entry of the thread table.
  static constexpr uint32_t kBytesPerThread = 140;

  MemoryMonitor();
  ~MemoryMonitor() override;

  // initialize, applySettings, then the iteration count; the settings are
  // read from the property file when the monitor starts unless given.
  void start(const MemorySettings& settings = readMemorySettings());
  // Forgets the last estimate.
  void stop();

  // Puts every process-wide value below back to its start value and opens
  // the gate.
  void initialize();
  // Takes the limits, correcting those out of range.
  void applySettings(const MemorySettings& settings);
  // Turns the counter reset time (seconds) into publishing cycles of
  // `publishingFrequencyMs`.
  void computeIterationCount(int publishingFrequencyMs);

  // Called once per cycle of the master event agent with the bytes queued in
  // all event agents, the number of records in the thread table and the
  // bytes the network agents hold: adds the minimum and the table's share,
  // stores the estimate and moves the gate. Answers true while the gate is
  // closed.
  bool checkMemory(uint32_t queuedBytes, uint32_t threadCount, uint32_t pendingBytes);

  // The last estimate in bytes; 0 before the first check and after stop.
  uint32_t getMemoryUsed() const { return memoryUsed_.load(std::memory_order_relaxed); }

 private:
  HalLock lock_;
  std::atomic<uint32_t> memoryUsed_{0};
};

extern MemoryMonitor* memoryMonitor;

// The data gate: true while the agent accepts no data. Read without a lock on
// every recording call; a reader may see a change one call late.
extern std::atomic<bool> memoryGateClosed;
inline bool isMemoryGateClosed() {
  return memoryGateClosed.load(std::memory_order_relaxed);
}

// Process-wide values owned by the monitor, read without a lock. Limits are
// in bytes. The text limits and size estimates live in threads/TextLimits.h.
extern std::atomic<int64_t> memoryMinimumLimit;  // 4000000
extern std::atomic<int64_t> memoryLimit;         // the gate closes at this estimate
extern std::atomic<int64_t> memoryAcceptThreshold;
// The counter reset time in seconds, replaced at start by the number of
// publishing cycles it spans.
extern std::atomic<int> counterResetIterations;

// The figure getNativeProbeStatus reports: the monitor's last estimate in
// bytes, 0 while there is no monitor.
long memoryInUse();
