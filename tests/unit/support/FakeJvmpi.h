// A test double of the profiler interface table: raw monitors on standard
// primitives, a settable thread CPU clock, and a record of every event that
// was enabled or disabled. Installing it sets the process-wide
// interface pointer; uninstalling clears it.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/jvmpi.h"

class FakeJvmpi {
 public:
  FakeJvmpi();
  ~FakeJvmpi();

  void install();
  void uninstall();

  JVMPI_Interface table{};

  // Everything below is read and written by tests; access is locked.
  std::vector<jint> enabled();
  std::vector<jint> disabled();
  std::vector<std::string> monitorNames();
  int monitorsCreated() const { return created_.load(); }
  int monitorsDestroyed() const { return destroyed_.load(); }
  // Makes RawMonitorCreate answer null, as a JVM out of resources would.
  void failMonitorCreation(bool fail) { failCreate_ = fail; }
  // The value GetCurrentThreadCpuTime answers.
  void setCpuTime(jlong nanos) { cpuTime_ = nanos; }
  // When set, RawMonitorWait returns at once instead of waiting out its time.
  void setInstantWaits(bool instant) { instantWaits_ = instant; }

 private:
  friend struct FakeJvmpiEntries;
  std::mutex mutex_;
  std::vector<jint> enabled_, disabled_;
  std::vector<std::string> names_;
  std::atomic<int> created_{0}, destroyed_{0};
  std::atomic<bool> failCreate_{false};
  std::atomic<jlong> cpuTime_{0};
  std::atomic<bool> instantWaits_{false};
};
