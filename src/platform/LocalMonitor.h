// A monitor with the behaviour of a JVM raw monitor, built on the standard
// library: the owner may enter again; a wait releases every level of entry,
// and takes them all back before it returns. The profiler interface table
// hands these out while the JVM offers no JVMTI environment yet (a library
// loaded with -Xrun starts before the JVM lets agents obtain one).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class LocalMonitor {
 public:
  LocalMonitor() = default;
  LocalMonitor(const LocalMonitor&) = delete;
  LocalMonitor& operator=(const LocalMonitor&) = delete;

  void enter();
  // False when the caller does not own the monitor.
  bool exit();
  // Waits until another thread calls notifyAll or until the time is up; 0
  // waits until notified, a negative time not at all. An early wake-up of the underlying wait does
  // not end it. False when the caller does not own the monitor.
  bool wait(int64_t millis);
  // Ends the waits in progress. False when the caller does not own the monitor.
  bool notifyAll();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread::id owner_;
  int entries_ = 0;
  uint64_t notifications_ = 0;
};
