#include "threads/MemoryMonitor.h"

#include "base/Log.h"
#include "threads/TextLimits.h"

MemoryMonitor* memoryMonitor = nullptr;
std::atomic<bool> memoryGateClosed{false};

std::atomic<int64_t> memoryMinimumLimit{4000000};
std::atomic<int64_t> memoryLimit{60000000};
std::atomic<int64_t> memoryAcceptThreshold{2000000};
std::atomic<int> counterResetIterations{1800};

namespace {
constexpr auto relaxed = std::memory_order_relaxed;
constexpr int64_t kMinimumLimit = 4000000;

}  // namespace

// The figure of getNativeProbeStatus: the last estimate, 0 without a monitor.
long memoryInUse() {
  return memoryMonitor ? static_cast<long>(memoryMonitor->getMemoryUsed()) : 0;
}

MemoryMonitor::MemoryMonitor() : NamedObject("MemoryMonitor") {}

MemoryMonitor::~MemoryMonitor() {
  if (memoryMonitor == this) memoryMonitor = nullptr;
}

void MemoryMonitor::start(const MemorySettings& settings) {
  initialize();
  applySettings(settings);
  computeIterationCount(settings.publishingFrequencyMs);
  logInfo("MemoryMonitor", __LINE__, "MemoryMonitor started.");
}

void MemoryMonitor::stop() {
  memoryUsed_.store(0, relaxed);
}

void MemoryMonitor::initialize() {
  logMessage(LOG_INFO, "INFO: MemoryMonitor::initialize \n");
  memoryGateClosed.store(false, relaxed);
  memoryMinimumLimit.store(kMinimumLimit, relaxed);
  memoryLimit.store(60000000, relaxed);
  memoryAcceptThreshold.store(2000000, relaxed);
  counterResetIterations.store(1800, relaxed);
  initTextLimits();
}

void MemoryMonitor::applySettings(const MemorySettings& settings) {
  setTextLimits(settings.textLimits);

  int64_t limit = static_cast<int64_t>(settings.limitMb) * 1000000;
  if (limit <= kMinimumLimit) {
    limit = kMinimumLimit;
    logf(LOG_INFO, "MemoryMonitor", __LINE__,
         "INFO: Ignoring user specified Memory Limit as it's less than minimum limit, %d MB\n",
         static_cast<int>(kMinimumLimit / 1000000));
  }
  memoryLimit.store(limit, relaxed);

  int64_t threshold = static_cast<int64_t>(settings.acceptThresholdMb) * 1000000;
  if (threshold > limit - kMinimumLimit) {
    threshold = (limit - kMinimumLimit) / 2;
    logf(LOG_INFO, "MemoryMonitor", __LINE__,
         "Accept threshold is greater than Max Limit - Min Limit, using %d \n",
         static_cast<int>(threshold));
  }
  memoryAcceptThreshold.store(threshold, relaxed);

  counterResetIterations.store(settings.counterResetSec, relaxed);

  logf(LOG_INFO, "MemoryMonitor", __LINE__,
       "INFO: Memory Monitor properties, ULimit %lld bytes, Accept Threshold %lld bytes, URL "
       "Limit: %d, SQL Limit: %d \n",
       static_cast<long long>(limit), static_cast<long long>(threshold), urlLimit(), sqlLimit());
}

void MemoryMonitor::computeIterationCount(int publishingFrequencyMs) {
  // The event agents' cycle in whole seconds, as the property gives it; a
  // cycle under one second counts as one.
  int seconds = publishingFrequencyMs / 1000;
  int resetTime = counterResetIterations.load(relaxed);
  if (resetTime < 0) resetTime = 0;
  double count = static_cast<double>(resetTime) / (seconds <= 0 ? 1 : seconds);
  counterResetIterations.store(static_cast<int>(count), relaxed);
  logf(LOG_INFO, "MemoryMonitor", __LINE__, "INFO: Queue counter resets every %d iterations \n",
       counterResetIterations.load(relaxed));
}

bool MemoryMonitor::checkMemory(uint32_t queuedBytes, uint32_t threadCount, uint32_t pendingBytes) {
  // Unsigned 32-bit throughout, as the figures themselves are.
  uint32_t estimate = queuedBytes + pendingBytes + static_cast<uint32_t>(kMinimumLimit) +
                      kBytesPerThread * threadCount;
  memoryUsed_.store(estimate, relaxed);

  int64_t limit = memoryLimit.load(relaxed);
  bool closed = memoryGateClosed.load(relaxed);
  if (estimate >= limit) {
    if (!closed) {
      memoryGateClosed.store(true, relaxed);
      logf(LOG_INFO, "MemoryMonitor", __LINE__,
           "##INFO: Memory Limit reached, datacollector stopped accepting data, Limit: %ld "
           "Memory Utilization: %ld \n",
           static_cast<long>(limit), static_cast<long>(estimate));
    }
  } else if (closed && estimate <= limit - memoryAcceptThreshold.load(relaxed)) {
    memoryGateClosed.store(false, relaxed);
    logf(LOG_INFO, "MemoryMonitor", __LINE__,
         "##INFO: Memory Utlization below Limit, datacollector is accepting data, Limit: %ld "
         "Memory Utilization: %ld \n",
         static_cast<long>(limit), static_cast<long>(estimate));
  }
  return memoryGateClosed.load(relaxed);
}
