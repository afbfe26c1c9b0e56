#include "base/HalLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "support/FakeJvmpi.h"
#include "support/TestSupport.h"

namespace {

std::string expectedName(const void* lock) {
  char name[64];
  std::snprintf(name, sizeof name, "_%lXHalLock",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(lock)));
  return name;
}

// Leaves no global lock and no installed interface behind.
class HalLockTest : public testing::Test {
 protected:
  void TearDown() override {
    if (!jvmpi) fake.install();
    destroyGlobalLock();
    fake.uninstall();
  }
  FakeJvmpi fake;
};

// The tests that run threads, picked up by the ThreadSanitizer build.
class HalLockConcurrency : public HalLockTest {};

}  // namespace

TEST_F(HalLockTest, LockMadeBeforeTheInterfaceWorksOnceItIsInstalled) {
  HalLock early;
  HalLock deferred(true);
  EXPECT_FALSE(early.lock());
  EXPECT_FALSE(early.unlock());
  EXPECT_FALSE(deferred.lock());
  early.sleep(5);  // no monitor to wait on: returns at once
  EXPECT_EQ(fake.monitorsCreated(), 0);
  fake.install();
  EXPECT_EQ(early.monitor(), nullptr);
  EXPECT_TRUE(early.lock());
  EXPECT_NE(early.monitor(), nullptr);
  EXPECT_TRUE(early.lock());  // raw monitors are re-entrant
  EXPECT_TRUE(early.unlock());
  EXPECT_TRUE(early.unlock());
  EXPECT_EQ(fake.monitorsCreated(), 1);
  ASSERT_EQ(fake.monitorNames().size(), 1u);
  EXPECT_EQ(fake.monitorNames()[0], expectedName(&early));
}

TEST_F(HalLockTest, DeferredFormCreatesAtFirstLockAndDestroyLetsALaterLockMakeANewOne) {
  fake.install();
  {
    HalLock eager;
    EXPECT_NE(eager.monitor(), nullptr);
    HalLock later(false);
    EXPECT_EQ(later.monitor(), nullptr);
    EXPECT_FALSE(later.unlock());  // nothing to release yet
    EXPECT_TRUE(later.lock());
    EXPECT_TRUE(later.unlock());
    eager.destroy();
    EXPECT_EQ(eager.monitor(), nullptr);
    EXPECT_EQ(fake.monitorsDestroyed(), 1);
    EXPECT_TRUE(eager.lock());
    EXPECT_TRUE(eager.unlock());
  }
  EXPECT_EQ(fake.monitorsCreated(), 3);
  EXPECT_EQ(fake.monitorsDestroyed(), 3);
}

TEST_F(HalLockTest, FailedCreationsAreReportedAndNothingIsLocked) {
  {
    CapturedOutput captured;
    EXPECT_FALSE(createGlobalLock());
    EXPECT_EQ(captured.err(),
              "## ERROR: Global lock being created even before initialization of JVMPI \n");
  }
  fake.install();
  fake.failMonitorCreation(true);
  HalLock lock(false);
  CapturedOutput captured;
  EXPECT_FALSE(lock.lock());
  EXPECT_FALSE(lock.unlock());
  EXPECT_FALSE(createGlobalLock());
  EXPECT_EQ(globalLockMonitor(), nullptr);
  EXPECT_EQ(captured.err(),
            "## ERROR: JVMPI could not create a Raw Monitor"
            "## ERROR: JVMPI could not create a Raw Monitor for GlobalLock");
}

TEST_F(HalLockTest, GlobalLockIsMadeOnceAndDestroyed) {
  fake.install();
  EXPECT_TRUE(createGlobalLock());
  JVMPI_RawMonitor first = globalLockMonitor();
  EXPECT_NE(first, nullptr);
  EXPECT_TRUE(createGlobalLock());
  EXPECT_EQ(globalLockMonitor(), first);
  ASSERT_EQ(fake.monitorNames().size(), 1u);
  EXPECT_EQ(fake.monitorNames()[0], "_HalLockGlobalLock");
  destroyGlobalLock();
  EXPECT_EQ(globalLockMonitor(), nullptr);
  destroyGlobalLock();  // a second destroy does nothing
  EXPECT_EQ(fake.monitorsDestroyed(), 1);
}

// Two threads that meet an uncreated lock end on one monitor: under the
// global lock only one is made; before the global lock exists both may make
// one, and the loser's is destroyed (a lost monitor would leave each thread
// in a monitor of its own, excluding nobody).
TEST_F(HalLockConcurrency, RaceOnUncreatedLockMakesOneMonitor) {
  fake.install();
  const int rounds = 100;
  int madeBeforeGlobal = 0;
  for (bool global : {false, true}) {
    if (global) {
      madeBeforeGlobal = fake.monitorsCreated();
      ASSERT_TRUE(createGlobalLock());
    }
    for (int round = 0; round < rounds; round++) {
      HalLock lock(false);
      std::atomic<int> ready{0};
      JVMPI_RawMonitor seen[2] = {nullptr, nullptr};
      auto racer = [&](int i) {
        ready++;
        while (ready.load() < 2) {
        }
        EXPECT_TRUE(lock.lock());
        seen[i] = lock.monitor();
        EXPECT_TRUE(lock.unlock());
      };
      std::thread a(racer, 0), b(racer, 1);
      a.join();
      b.join();
      ASSERT_NE(seen[0], nullptr);
      ASSERT_EQ(seen[0], seen[1]) << "round " << round << (global ? " with" : " without")
                                  << " the global lock";
    }
  }
  // Under the global lock: the global lock plus one monitor per round.
  EXPECT_EQ(fake.monitorsCreated() - madeBeforeGlobal, 1 + rounds);
}

TEST_F(HalLockConcurrency, LockExcludesOtherThreads) {
  fake.install();
  ASSERT_TRUE(createGlobalLock());
  HalLock lock(false);
  long counter = 0;  // guarded by lock only: a race here is a lock fault
  auto work = [&] {
    for (int i = 0; i < 2000; i++) {
      HalLockGuard guard(lock);
      counter++;
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; i++) threads.emplace_back(work);
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 8000);
}
