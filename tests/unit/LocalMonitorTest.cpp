#include "platform/LocalMonitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long millisSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

TEST(LocalMonitorConcurrency, OnlyTheOwnerMayExitWaitOrNotify) {
  LocalMonitor monitor;
  EXPECT_FALSE(monitor.exit());
  EXPECT_FALSE(monitor.wait(1));
  EXPECT_FALSE(monitor.notifyAll());

  monitor.enter();
  std::thread other([&] {
    EXPECT_FALSE(monitor.exit());
    EXPECT_FALSE(monitor.notifyAll());
    EXPECT_FALSE(monitor.wait(1));
  });
  other.join();
  EXPECT_TRUE(monitor.exit());
  EXPECT_FALSE(monitor.exit());
}

TEST(LocalMonitorConcurrency, TheOwnerEntersAgainAndOthersWaitForTheLastExit) {
  LocalMonitor monitor;
  monitor.enter();
  monitor.enter();
  std::atomic<bool> entered{false};
  std::thread other([&] {
    monitor.enter();
    entered = true;
    monitor.exit();
  });
  EXPECT_TRUE(monitor.exit());
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(entered) << "one exit of two released the monitor";
  EXPECT_TRUE(monitor.exit());
  other.join();
  EXPECT_TRUE(entered);
}

TEST(LocalMonitorConcurrency, AWaitNobodyNotifiesRunsItsFullTime) {
  LocalMonitor monitor;
  monitor.enter();
  auto start = Clock::now();
  EXPECT_TRUE(monitor.wait(60));
  EXPECT_GE(millisSince(start), 60);
  EXPECT_TRUE(monitor.wait(-5));  // a negative time does not wait and keeps ownership
  EXPECT_TRUE(monitor.exit());
}

TEST(LocalMonitorConcurrency, AWaitReleasesEveryEntryAndTakesThemBack) {
  LocalMonitor monitor;
  std::atomic<bool> waiting{false};
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    monitor.enter();
    monitor.enter();
    waiting = true;
    EXPECT_TRUE(monitor.wait(0));  // until notified
    returned = true;
    EXPECT_TRUE(monitor.exit());
    EXPECT_TRUE(monitor.exit());
    EXPECT_FALSE(monitor.exit());
  });
  while (!waiting) std::this_thread::yield();
  // Entering succeeds only because the wait released both entries.
  monitor.enter();
  EXPECT_FALSE(returned);
  EXPECT_TRUE(monitor.notifyAll());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(returned) << "the waiter returned while the notifier still owned the monitor";
  EXPECT_TRUE(monitor.exit());
  waiter.join();
  EXPECT_TRUE(returned);
}

TEST(LocalMonitorConcurrency, ANotificationEndsATimedWaitEarly) {
  LocalMonitor monitor;
  std::atomic<bool> waiting{false};
  long long waited = 0;
  std::thread waiter([&] {
    monitor.enter();
    waiting = true;
    auto start = Clock::now();
    monitor.wait(60000);
    waited = millisSince(start);
    monitor.exit();
  });
  while (!waiting) std::this_thread::yield();
  monitor.enter();  // the waiter is inside its wait once this succeeds
  monitor.notifyAll();
  monitor.exit();
  waiter.join();
  EXPECT_LT(waited, 60000);
}

TEST(LocalMonitorConcurrency, EntriesExcludeEachOther) {
  LocalMonitor monitor;
  int counter = 0;  // guarded by the monitor only
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; i++) {
        monitor.enter();
        counter++;
        monitor.exit();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 8000);
}
