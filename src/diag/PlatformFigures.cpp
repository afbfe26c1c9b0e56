#include "diag/PlatformFigures.h"
#include "diag/PlatformFiguresTestAccess.h"

#include <atomic>
#include <cstdio>

#include "base/Log.h"
#include "platform/os.h"

namespace {

// The facts, written without a lock: threads that fill them at once write the
// same values.
std::atomic<uint32_t> processors{0};
std::atomic<uint32_t> online{0};
std::atomic<uint64_t> physicalMemory{0};
std::atomic<uint32_t> clockMHz{0};
// The cpuinfo path, which tests may change (to a path that outlives its use).
std::atomic<const char*> cpuinfoPath{ProcFiles().cpuinfo};

void fillFacts() {
  if (processors.load(std::memory_order_relaxed) != 0) return;
  long long memory = os::physicalMemoryBytes();
  physicalMemory.store(memory > 0 ? static_cast<uint64_t>(memory) : 0, std::memory_order_relaxed);
  // The processor clock: the registry where the system keeps it there, else
  // /proc/cpuinfo.
  uint32_t mhz = 0;
  os::Service registry = os::registryProcessorMHz(&mhz);
  if (registry == os::Service::Absent)
    mhz = static_cast<uint32_t>(os::processorMHzFrom(cpuinfoPath.load()));
  clockMHz.store(registry == os::Service::Failed ? 0 : mhz, std::memory_order_relaxed);
  processors.store(static_cast<uint32_t>(os::processorCount()), std::memory_order_relaxed);
}

// The failure message of a performance-data read.
void collectFailed() {
  std::fputs("PdhCollectQueryData failed\n", stdout);
  std::fflush(stdout);
}

}  // namespace

uint32_t processorCount() {
  fillFacts();
  return processors.load(std::memory_order_relaxed);
}

uint32_t onlineProcessorCount() {
  fillFacts();
  online.store(static_cast<uint32_t>(os::onlineProcessorCount()), std::memory_order_relaxed);
  return online.load(std::memory_order_relaxed);
}

uint32_t processorClockMHz() {
  fillFacts();
  return clockMHz.load(std::memory_order_relaxed);
}

uint64_t totalPhysicalMemory() {
  fillFacts();
  return physicalMemory.load(std::memory_order_relaxed);
}

void resetSystemFacts(const ProcFiles& files) {
  processors.store(0);
  online.store(0);
  physicalMemory.store(0);
  clockMHz.store(0);
  cpuinfoPath = files.cpuinfo;
}

void setSystemFacts(uint32_t count, uint64_t physicalBytes, uint32_t mhz) {
  physicalMemory.store(physicalBytes);
  clockMHz.store(mhz);
  processors.store(count);
}

int64_t pagingRate(uint64_t a, uint64_t b, uint64_t pageSize, int intervalMillis) {
  uint64_t seconds = intervalMillis > 0 ? static_cast<uint64_t>(intervalMillis) / 1000 : 0;
  if (a > b || seconds == 0) return 0;
  return static_cast<int64_t>((b - a) * pageSize / seconds);
}

int64_t toMegabytes(uint64_t bytes) {
  return static_cast<int64_t>(bytes >> 20);
}

double processCpuPercent(int64_t t0, int64_t t1, uint32_t count) {
  double p = static_cast<double>(t1 - t0) * 5e-8 / (count > 0 ? count : 1);
  return p > 100.0 ? 100.0 : p;
}

double machineCpuPercent(uint64_t busy0, uint64_t total0, uint64_t busy1, uint64_t total1) {
  if (total1 <= total0 || busy1 < busy0) return 0.0;
  double share = static_cast<double>(busy1 - busy0) / static_cast<double>(total1 - total0);
  return share > 1.0 ? 100.0 : share * 100.0;
}

int64_t samplePagingRate(int intervalMillis, const ProcFiles& files, void (*pause)(int64_t)) {
  // Linux has no total-page-file growth figure; the pages swapped in and out
  // (/proc/vmstat) are the paging counter.
  // Where the system has a page-file figure, its growth in pages is the
  // counter instead.
  if (intervalMillis < 1000) return 0;
  if (intervalMillis > kMostPagingMillis) {
    // The caller's thread sleeps for the interval: a mistaken value must not
    // hold it for days.
    char text[128];
    formatText(text, sizeof text, "getPagingRate: interval of %d ms cut to %d ms", intervalMillis,
               kMostPagingMillis);
    logMessage(LOG_WARNING, text);
    intervalMillis = kMostPagingMillis;
  }
  auto read = [&files](uint64_t* pages) {
    os::Service service = os::pageFilePages(pages);
    if (service != os::Service::Absent) return service == os::Service::Answered;
    return os::readPagingCounter(files.vmstat, pages);
  };
  uint64_t a = 0, b = 0;
  if (!read(&a)) return 0;
  pause(intervalMillis);
  if (!read(&b)) return 0;
  return pagingRate(a, b, static_cast<uint64_t>(os::pageSize()), intervalMillis);
}

int64_t freeDiskSpace() {
  // The system drive "C:\"; Linux reports its root file system.
  uint64_t bytes = 0;
  return os::freeDiskBytes(os::kSystemDriveRoot, &bytes) ? static_cast<int64_t>(bytes) : 0;
}

int64_t processSwapBytes(const ProcFiles& files) {
  // The process's page-file usage; on Linux its swap use (/proc/self/status
  // "VmSwap") stands for it.
  uint64_t bytes = 0;
  os::Service service = os::processPageFileBytes(&bytes);
  if (service != os::Service::Absent)
    return service == os::Service::Answered ? static_cast<int64_t>(bytes) : 0;
  return os::readProcessSwapBytes(files.selfStatus, &bytes) ? static_cast<int64_t>(bytes) : 0;
}

int64_t diskBytesPerTransferMegabytes(const ProcFiles& files) {
  // The performance counter where the system has one; on Linux the first
  // disk of /proc/diskstats stands for the first PhysicalDisk instance, its
  // average since boot for "Avg. Disk Bytes/Transfer".
  int64_t value = 0;
  os::Service service = os::performanceCounter(
      "PhysicalDisk", "\\PhysicalDisk(%s)\\Avg. Disk Bytes/Transfer", 1000, &value);
  if (service != os::Service::Absent) return service == os::Service::Answered ? value / 1048576 : 0;
  uint64_t bytes = 0;
  if (!os::readDiskBytesPerTransfer(files.diskstats, &bytes)) {
    collectFailed();
    return 0;
  }
  return toMegabytes(bytes);
}

int64_t networkMegabytesPerSecond(int sampleMillis, const ProcFiles& files) {
  // The performance counter where the system has one; on Linux the first
  // interface of /proc/net/dev other than the loopback stands for the first
  // Network Interface instance, its bytes received and sent, sampled twice,
  // for "Bytes Total/sec".
  int64_t value = 0;
  os::Service service = os::performanceCounter(
      "Network Interface", "\\Network Interface(%s)\\Bytes Total/sec", sampleMillis, &value);
  if (service != os::Service::Absent) return service == os::Service::Answered ? value / 1048576 : 0;
  uint64_t a = 0, b = 0;
  if (!os::readNetworkBytes(files.netDev, &a)) {
    collectFailed();
    return 0;
  }
  os::sleepMillis(sampleMillis);
  if (!os::readNetworkBytes(files.netDev, &b)) {
    collectFailed();
    return 0;
  }
  if (b < a || sampleMillis <= 0) return 0;
  long double perSecond = static_cast<long double>(b - a) * 1000 / sampleMillis;
  return toMegabytes(static_cast<uint64_t>(perSecond));
}

double sampleProcessCpuPercent() {
  int64_t t0 = os::processCpuNanos();
  os::sleepMillis(2000);
  int64_t t1 = os::processCpuNanos();
  return processCpuPercent(t0, t1, processorCount());
}

double sampleMachineCpuPercent(int sampleMillis, const ProcFiles& files) {
  // The counter "\Processor(_Total)\% Processor Time" where the system has
  // it; on Linux the aggregate "cpu" line of /proc/stat stands for it.
  double percent = -1.0;
  os::Service service = os::processorTimePercent(sampleMillis, &percent);
  if (service != os::Service::Absent) return service == os::Service::Answered ? percent : -1.0;
  uint64_t busy0, total0, busy1, total1;
  if (!os::readMachineCpuTicks(files.stat, &busy0, &total0)) return -1.0;
  os::sleepMillis(sampleMillis);
  if (!os::readMachineCpuTicks(files.stat, &busy1, &total1)) return -1.0;
  return machineCpuPercent(busy0, total0, busy1, total1);
}
