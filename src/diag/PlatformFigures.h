// Figures of the machine and of this process that the Java side cannot
// obtain itself: the system facts (processor count and clock, physical
// memory), paging, disk, network and CPU use. Everything is computed when
// asked; nothing is sampled in the background. The samplers read /proc-style
// files whose paths a ProcFiles names, so that tests can hand in their own.
#pragma once

#include <cstdint>

#include "platform/os.h"

struct ProcFiles {
  const char* vmstat = "/proc/vmstat";
  const char* selfStatus = "/proc/self/status";
  const char* diskstats = "/proc/diskstats";
  const char* netDev = "/proc/net/dev";
  const char* stat = "/proc/stat";
  const char* cpuinfo = "/proc/cpuinfo";
};

// --- system facts (filled once, on first need) --------------------------------

uint32_t processorCount();
// Refreshed by every call.
uint32_t onlineProcessorCount();
// MHz, 0 when unknown.
uint32_t processorClockMHz();
uint64_t totalPhysicalMemory();
// The platform number handed to Java: always 1.
constexpr int kPlatformNumber = 1;

// --- arithmetic ------------------------------------------------------------------

// Bytes paged per second: (b - a) pages times the page size over the whole
// seconds of the interval; 0 when b < a or the interval is under a second.
int64_t pagingRate(uint64_t a, uint64_t b, uint64_t pageSize, int intervalMillis);
// Bytes to megabytes, rounded down.
int64_t toMegabytes(uint64_t bytes);
// CPU nanoseconds over a 2-second sample as a percentage of one processor's
// time, divided by the processors and capped at 100.
double processCpuPercent(int64_t t0, int64_t t1, uint32_t processors);
// Busy share of the machine's ticks between two readings, in percent.
double machineCpuPercent(uint64_t busy0, uint64_t total0, uint64_t busy1, uint64_t total1);

// --- samplers -------------------------------------------------------------------

// getPagingRate: samples the paging counter over the interval, waiting with
// pause between the two readings. An interval above kMostPagingMillis is cut
// to it, with a warning in the log: the wait blocks the caller's thread.
constexpr int kMostPagingMillis = 60000;
int64_t samplePagingRate(int intervalMillis, const ProcFiles& files = ProcFiles(),
                         void (*pause)(int64_t millis) = os::sleepMillis);
// getDiskSpace: free bytes of the root file system.
int64_t freeDiskSpace();
// getVM: the process's swap use in bytes.
int64_t processSwapBytes(const ProcFiles& files = ProcFiles());
// getDiskIO: average bytes per transfer of the first disk, in megabytes
// (where a performance counter gives it, over a one-second sample).
int64_t diskBytesPerTransferMegabytes(const ProcFiles& files = ProcFiles());
// getNetworkIO: bytes per second of the first network interface over a
// sample of sampleMillis, in megabytes.
int64_t networkMegabytesPerSecond(int sampleMillis = 1000, const ProcFiles& files = ProcFiles());
// nativeUpdateAppServerCPU: the process's CPU use over 2 seconds.
double sampleProcessCpuPercent();
// nativeUpdatePlatformCPU: the machine's CPU use over sampleMillis; -1.0 when
// it cannot be read.
double sampleMachineCpuPercent(int sampleMillis = 1000, const ProcFiles& files = ProcFiles());
