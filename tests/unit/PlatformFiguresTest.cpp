// The platform figures, and the thread status handed to Java.
#include "diag/PlatformFigures.h"
#include "diag/PlatformFiguresTestAccess.h"

#include <gtest/gtest.h>

#include "diag/ThreadStatus.h"
#include "platform/os.h"
#include "support/TestSupport.h"
#include "support/ThreadTestEnv.h"
#include "threads/ThreadId.h"

extern "C" jlong JNICALL
Java_com_halden_command_monitoring_PerfSummaryImpl_getTotalPhysicalMemory(JNIEnv*, jobject);

namespace {

class PlatformFiguresTest : public ::testing::Test {
 protected:
  TempDir dir;
  ProcFiles files;
  std::string file(const char* name, const std::string& text) {
    dir.write(name, text);
    return dir.at(name);
  }
};

TEST_F(PlatformFiguresTest, ReadersTakeTheirFiguresFromTheFilesGiven) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no /proc files: its figures come from system services";
#endif
  uint64_t value = 0, busy = 0, total = 0;
  EXPECT_TRUE(os::readPagingCounter(
      file("vmstat", "nr_free_pages 5\npswpin 10\npgpgin 99\npswpout 32\n").c_str(), &value));
  EXPECT_EQ(value, 42u);
  EXPECT_TRUE(os::readProcessSwapBytes(file("status", "Name:\tjava\nVmSwap:\t    12 kB\n").c_str(),
                                       &value));
  EXPECT_EQ(value, 12u * 1024);
  // loop devices are skipped; (8 + 24) sectors of 512 bytes over 2 + 2 transfers.
  EXPECT_TRUE(os::readDiskBytesPerTransfer(
      file("diskstats",
           "7 0 loop0 9 0 99 0 9 0 99 0 0 0 0\n"
           "8 0 sda 2 0 8 0 2 0 24 0 0 0 0\n8 1 sda1 1 0 1 0 1 0 1 0 0 0 0\n")
          .c_str(),
      &value));
  EXPECT_EQ(value, 4096u);
  EXPECT_TRUE(os::readNetworkBytes(file("netdev",
                                        "Inter-|   Receive |  Transmit\n face |bytes packets\n"
                                        "    lo: 500 1 0 0 0 0 0 0 500 1 0 0 0 0 0 0\n"
                                        "  eth0: 1000 2 0 0 0 0 0 0 24 1 0 0 0 0 0 0\n")
                                       .c_str(),
                                   &value));
  EXPECT_EQ(value, 1024u);
  // user nice system idle iowait irq softirq steal
  EXPECT_TRUE(os::readMachineCpuTicks(
      file("stat", "cpu  10 0 5 80 5 0 0 0 0 0\ncpu0 1 1 1 1 1\n").c_str(), &busy, &total));
  EXPECT_EQ(busy, 15u);
  EXPECT_EQ(total, 100u);
  EXPECT_EQ(os::processorMHzFrom(file("cpuinfo", "processor: 0\ncpu MHz\t\t: 2399.6\n").c_str()),
            2400);
}

TEST_F(PlatformFiguresTest, MissingOrMalformedFilesGiveNoFigure) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no /proc files: its figures come from system services";
#endif
  uint64_t value = 7, busy = 0, total = 0;
  std::string missing = dir.at("none");
  EXPECT_FALSE(os::readPagingCounter(missing.c_str(), &value));
  EXPECT_FALSE(os::readPagingCounter(file("v", "pswpin x\n").c_str(), &value));
  EXPECT_FALSE(
      os::readProcessSwapBytes(file("s", "VmSwap: 99999999999999999999 kB\n").c_str(), &value));
  EXPECT_FALSE(os::readDiskBytesPerTransfer(file("d", "8 0 sda 1 2\n").c_str(), &value));
  EXPECT_TRUE(
      os::readDiskBytesPerTransfer(file("d0", "8 0 sda 0 0 0 0 0 0 0 0\n").c_str(), &value));
  EXPECT_EQ(value, 0u) << "a disk without transfers";
  EXPECT_FALSE(os::readNetworkBytes(file("n", "lo: 1 2 3 4 5 6 7 8 9\n").c_str(), &value));
  EXPECT_FALSE(os::readMachineCpuTicks(file("c", "cpu 1 -2 3 4\n").c_str(), &busy, &total));
  EXPECT_EQ(value, 0u) << "failures leave the output alone";
  EXPECT_EQ(os::processorMHzFrom(missing.c_str()), 0);

  files.diskstats = files.netDev = files.stat = files.selfStatus = files.vmstat = "/nonexistent";
  CapturedOutput out;
  EXPECT_EQ(diskBytesPerTransferMegabytes(files), 0);
  EXPECT_EQ(networkMegabytesPerSecond(0, files), 0);
  EXPECT_EQ(sampleMachineCpuPercent(0, files), -1.0);
  EXPECT_EQ(processSwapBytes(files), 0);
  EXPECT_EQ(samplePagingRate(1000, files), 0);
  out.finish();
  EXPECT_EQ(out.out(), "PdhCollectQueryData failed\nPdhCollectQueryData failed\n");
}

TEST_F(PlatformFiguresTest, TheFiguresArithmetic) {
  EXPECT_EQ(pagingRate(10, 30, 4096, 1000), 20 * 4096);
  EXPECT_EQ(pagingRate(10, 30, 4096, 2999), 10 * 4096) << "whole seconds";
  EXPECT_EQ(pagingRate(30, 10, 4096, 1000), 0);
  EXPECT_EQ(pagingRate(10, 30, 4096, 999), 0) << "no division by zero";
  EXPECT_EQ(samplePagingRate(999, files), 0);
  EXPECT_EQ(processCpuPercent(0, 1000000000, 1), 50.0);
  EXPECT_EQ(processCpuPercent(0, 1000000000, 2), 25.0);
  EXPECT_EQ(processCpuPercent(0, 9000000000, 1), 100.0);
  EXPECT_EQ(machineCpuPercent(15, 100, 45, 200), 30.0);
  EXPECT_EQ(machineCpuPercent(15, 100, 15, 100), 0.0);
  setSystemFacts(1, 2147483648u, 0);
  EXPECT_EQ(
      Java_com_halden_command_monitoring_PerfSummaryImpl_getTotalPhysicalMemory(nullptr, nullptr),
      2048);

  // Without a cpuinfo file the clock is unknown; the other facts remain.
  files.cpuinfo = "/nonexistent";
  resetSystemFacts(files);
#ifndef _WIN32  // Windows reads the clock from the registry
  EXPECT_EQ(processorClockMHz(), 0u);
#endif
  EXPECT_GT(processorCount(), 0u);
  EXPECT_GT(totalPhysicalMemory(), 0u);
  resetSystemFacts();
}

// The paging counter of a vmstat file grows by 25 pages while the sampler
// waits; the wait asked for is kept.
const TempDir* pagingDir = nullptr;
int64_t pagingPause = -1;
void pagesGrow(int64_t millis) {
  pagingPause = millis;
  pagingDir->write("vmstat", "pswpin 35\npswpout 32\n");
}

TEST_F(PlatformFiguresTest, PagingRateIsTheCountersGrowthOverABoundedInterval) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows reads the page file, not a vmstat file";
#endif
  pagingDir = &dir;
  const int64_t page = os::pageSize();
  std::string vmstat = file("vmstat", "pswpin 10\npswpout 32\n");
  files.vmstat = vmstat.c_str();
  EXPECT_EQ(samplePagingRate(1000, files, &pagesGrow), 25 * page);
  EXPECT_EQ(pagingPause, 1000);
  // A caller's mistaken interval is cut to a minute: it blocks their thread.
  file("vmstat", "pswpin 10\npswpout 32\n");
  EXPECT_EQ(samplePagingRate(2147483647, files, &pagesGrow), 25 * page / 60);
  EXPECT_EQ(pagingPause, kMostPagingMillis);
}

class ThreadStatusTest : public ThreadTestEnv {
 protected:
  static jint reported;
  void SetUp() override {
    ThreadTestEnv::SetUp();
    fake.table.GetThreadStatus = [](JNIEnv*) { return reported; };
    fake.table.GetThreadObject = [](JNIEnv*) -> jobjectID { return 77; };
  }
};
jint ThreadStatusTest::reported = 0;

TEST_F(ThreadStatusTest, TheTableAndTheInterfaceDecideTheStatus) {
  JNIEnv* env = fakeEnv(0x7f5500001000);
  ThreadData* data = threadMgr->getThreadData(env);
  ASSERT_NE(data, nullptr);
  uint32_t key = data->getThreadId();
  uint32_t object = 0;
  reported = JVMPI_THREAD_MONITOR_WAIT;
  EXPECT_EQ(threadStatusOf(key), 2);
  EXPECT_TRUE(liveThreadObject(key, &object));
  EXPECT_EQ(object, 77u);
  reported = JVMPI_THREAD_CONDVAR_WAIT | JVMPI_THREAD_INTERRUPTED;
  EXPECT_EQ(threadStatusOf(key), 0x4003);
  reported = 9;
  EXPECT_EQ(threadStatusOf(key), 0) << "any other state";
  reported = JVMPI_THREAD_MONITOR_WAIT;
  data->setSuspended(true);
  EXPECT_EQ(threadStatusOf(key), 0x8002);
  data->setStopped(true);
  EXPECT_EQ(threadStatusOf(key), 4);
  EXPECT_FALSE(liveThreadObject(key, &object));
  EXPECT_EQ(threadStatusOf(0), -1);
  EXPECT_EQ(threadStatusOf(key + 8), -1);

  threadMgr->threadEnded(data);
  EXPECT_EQ(threadStatusOf(key), -1) << "an ended thread leaves the table";
  threadMgr->deleteThreadData(data);
  fake.uninstall();
  EXPECT_EQ(threadStatusOf(key), -1);
  fake.install();
}

}  // namespace
