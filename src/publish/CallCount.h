// Counts the calls running inside a manager, so that its stop can wait for
// them to leave before it deletes the agents they may be using.
#pragma once

#include <atomic>

#include "platform/os.h"

class CallCount {
 public:
  // Held for the length of one call.
  class Guard {
   public:
    Guard(CallCount& calls, const std::atomic<bool>& started) : calls_(calls), started_(started) {
      calls_.active_.fetch_add(1);
    }
    ~Guard() { calls_.active_.fetch_sub(1); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    // Read after the count was raised: a stop that cleared the flag before
    // this read waits for the count to fall before deleting the agents.
    bool started() const { return started_.load(); }

   private:
    CallCount& calls_;
    const std::atomic<bool>& started_;
  };

  void waitUntilIdle() const {
    while (active_.load() > 0) os::sleepMillis(1);
  }

 private:
  std::atomic<int> active_{0};
};
