// The memory gate.
#include <gtest/gtest.h>

#include <string>

#include "config/PropertyMgr.h"
#include "support/FakeJvmpi.h"
#include "support/TestSupport.h"
#include "threads/MemoryMonitor.h"
#include "threads/TextLimits.h"

namespace {

class MemoryMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.install();
    PropertyMgr::destroyInstance();
    monitor = new MemoryMonitor();
    memoryMonitor = monitor;
  }
  void TearDown() override {
    delete monitor;
    memoryGateClosed.store(false);
    PropertyMgr::destroyInstance();
    fake.uninstall();
  }

  void set(const char* key, const char* value) { PropertyMgr::instance()->putProperty(key, value); }

  // Starts the monitor and answers what it logged.
  std::string startLogged() {
    return captured([&] { monitor->start(); });
  }

  // The gate after a check whose estimate is `estimate` (no threads, no
  // network bytes: the queued share is the estimate less the minimum).
  bool checkAt(uint32_t estimate) { return monitor->checkMemory(estimate - 4000000, 0, 0); }

  FakeJvmpi fake;
  MemoryMonitor* monitor = nullptr;
};

TEST_F(MemoryMonitorTest, DefaultsCloseAtTheLimitAndReopenBelowTheThreshold) {
  startLogged();
  std::string log = captured([&] {
    EXPECT_FALSE(checkAt(59999999));
    EXPECT_FALSE(checkAt(59000000));  // open stays open between the bounds
    EXPECT_TRUE(checkAt(61000000));
    EXPECT_TRUE(checkAt(62000000));
    EXPECT_TRUE(isMemoryGateClosed());
    EXPECT_TRUE(checkAt(59000000));  // closed stays closed between the bounds
    EXPECT_TRUE(checkAt(58000001));
    EXPECT_FALSE(checkAt(58000000));
    EXPECT_FALSE(checkAt(40000000));
  });
  EXPECT_FALSE(isMemoryGateClosed());
  EXPECT_EQ(monitor->getMemoryUsed(), 40000000u);
  // Logged only when the gate moves.
  EXPECT_CONTAINS(log,
                  "Memory Limit reached, datacollector stopped accepting data, Limit: "
                  "60000000 Memory Utilization: 61000000");
  EXPECT_CONTAINS(log,
                  "datacollector is accepting data, Limit: 60000000 Memory "
                  "Utilization: 58000000");
  EXPECT_EQ(log.find("62000000"), std::string::npos);
  EXPECT_EQ(log.find("40000000"), std::string::npos);
}

TEST_F(MemoryMonitorTest, LimitsOutOfRangeAreCorrected) {
  set("internal.memory.limit", "3");
  std::string log = startLogged();
  EXPECT_EQ(memoryLimit.load(), 4000000);
  EXPECT_CONTAINS(log,
                  "Ignoring user specified Memory Limit as it's less than minimum limit, 4 MB");
  // With no room above the minimum the gate is closed by the minimum alone.
  EXPECT_TRUE(monitor->checkMemory(0, 0, 0));

  set("internal.memory.limit", "10");
  set("internal.memory.accept.threshold", "8");
  log = startLogged();
  EXPECT_FALSE(isMemoryGateClosed()) << "a start reopens a closed gate";
  EXPECT_EQ(memoryAcceptThreshold.load(), 3000000);
  EXPECT_CONTAINS(log, "Accept threshold is greater than Max Limit - Min Limit, using 3000000");
  EXPECT_TRUE(checkAt(10000000));
  EXPECT_TRUE(checkAt(7000001));
  EXPECT_FALSE(checkAt(7000000));

  set("internal.memory.limit", "5000");  // 5e9 bytes: beyond 32 bits
  startLogged();
  EXPECT_EQ(memoryLimit.load(), 5000000000LL);
  EXPECT_FALSE(monitor->checkMemory(0xF0000000u, 0, 0));
}

TEST_F(MemoryMonitorTest, IterationCountIsTheResetTimeOverWholeSecondsOfTheCycle) {
  startLogged();
  EXPECT_EQ(counterResetIterations.load(), 1800);  // 3600 s over 2 s

  set("internal.probe.publishing.frequency", "4500");  // 4 whole seconds
  set("internal.counter.resettime", "100");
  startLogged();
  EXPECT_EQ(counterResetIterations.load(), 25);

  // Under one second, zero or negative: divided by 1.
  for (const char* frequency : {"500", "0", "-3000"}) {
    set("internal.probe.publishing.frequency", frequency);
    startLogged();
    EXPECT_EQ(counterResetIterations.load(), 100) << frequency;
  }

  set("internal.counter.resettime", "-5");
  startLogged();
  EXPECT_EQ(counterResetIterations.load(), 0);
}

TEST_F(MemoryMonitorTest, EstimateCountsQueuedBytesThreadsPendingBytesAndTheMinimum) {
  startLogged();
  EXPECT_FALSE(monitor->checkMemory(1000, 3, 500));
  EXPECT_EQ(monitor->getMemoryUsed(), 4000000u + 1000 + 3 * 140 + 500);
  EXPECT_EQ(memoryInUse(), 4000000 + 1000 + 3 * 140 + 500);
  // After stop the status figure is 0 again.
  monitor->stop();
  EXPECT_EQ(memoryInUse(), 0);
}

}  // namespace
