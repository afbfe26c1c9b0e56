#include "base/HalOsLock.h"
#include "base/HalOsLockTestAccess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/Log.h"
#include "base/LogTestAccess.h"
#include "support/TestSupport.h"

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define DC_UNDER_TSAN 1
#endif
#endif

TEST(HalOsLock, ReleaseByANonOwnerFailsWithItsInfoLine) {
#ifdef DC_UNDER_TSAN
  GTEST_SKIP() << "ThreadSanitizer reports the deliberate release by a non-owner";
#endif
  resetLog();
  HalOsLock lock(20);
  CapturedOutput captured;
  EXPECT_FALSE(lock.unlock());  // never taken
  ASSERT_TRUE(lock.lock());
  std::thread other([&] { EXPECT_FALSE(lock.unlock()); });
  other.join();
  EXPECT_TRUE(lock.unlock());
  EXPECT_EQ(countOf(captured.out(), " INFO: Cannot Release Mutex Lock \n"), 2);
}

// An owner that holds the lock for several wait slices makes the other thread
// wait slice after slice; the time-out is never a failure. The owner may
// take its lock again.
TEST(HalOsLockConcurrency, HoldLongerThanOneSliceIsWaitedOut) {
  HalOsLock lock(20);
  ASSERT_TRUE(lock.lock());
  ASSERT_TRUE(lock.lock());
  std::atomic<bool> acquired{false};
  std::atomic<bool> result{false};
  std::thread waiter([&] {
    result = lock.lock();
    acquired = true;
    if (result) lock.unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_FALSE(acquired.load());
  EXPECT_TRUE(lock.unlock());
  EXPECT_TRUE(lock.unlock());
  waiter.join();
  EXPECT_TRUE(result.load());
  EXPECT_GE(HalOsLockTestAccess::slicesWaited(lock), 2);
}

TEST(HalOsLockConcurrency, LockExcludesOtherThreads) {
  HalOsLock lock(20);
  long counter = 0;  // guarded by lock only
  auto work = [&] {
    for (int i = 0; i < 2000; i++) {
      ASSERT_TRUE(lock.lock());
      counter++;
      ASSERT_TRUE(lock.unlock());
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 4000);
}
