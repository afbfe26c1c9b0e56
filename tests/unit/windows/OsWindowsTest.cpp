// The Windows side of the platform layer that the other unit tests, which run
// here too, do not reach: the named mutex seen from a second process, the
// directory search with creation times, the argument copy, and the machine
// figures. The second process is this test program again, running one child
// test chosen by the environment variable DC_CHILD.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "base/HalOsLock.h"
#include "diag/PlatformFigures.h"
#include "diag/PlatformFiguresTestAccess.h"
#include "platform/os.h"
#include "support/TestSupport.h"

namespace {

// Runs this program with a child test and the given extra command-line text;
// answers its exit code (0: the child's expectations held).
int runChild(const char* test, const std::string& env, const std::string& extra = "") {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string line =
      std::string("\"") + self + "\" --gtest_filter=WindowsChild." + test + " " + extra;
  ScopedEnv child("DC_CHILD", env.c_str());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return -1;
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

const char* childEnv() {
  return std::getenv("DC_CHILD");
}

// --- child tests: run only inside runChild ------------------------------------

// DC_CHILD is "<mutex name>|held" or "<mutex name>|free".
TEST(WindowsChild, MutexState) {
  if (!childEnv()) GTEST_SKIP() << "runs as a second process only";
  std::string env = childEnv();
  std::string name = env.substr(0, env.find('|'));
  bool held = env.substr(env.find('|') + 1) == "held";
  HANDLE mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
  ASSERT_NE(mutex, nullptr) << "the name is visible to other processes";
  DWORD wait = WaitForSingleObject(mutex, 0);
  EXPECT_EQ(wait, held ? static_cast<DWORD>(WAIT_TIMEOUT) : static_cast<DWORD>(WAIT_OBJECT_0));
  if (wait == WAIT_OBJECT_0) ReleaseMutex(mutex);
  CloseHandle(mutex);
}

TEST(WindowsChild, Arguments) {
  if (!childEnv()) GTEST_SKIP() << "runs as a second process only";
  std::vector<std::string> args = os::argumentVector();
  ASSERT_EQ(args.size(), 5u);
  EXPECT_CONTAINS(args[0], "unit_tests");
  EXPECT_EQ(args[2], "a b");
  EXPECT_EQ(args[3], "c\"d");
  EXPECT_EQ(args[4], "e\\\\\\\\f\\") << "backslashes before no quote are kept";
}

// --- the platform functions ----------------------------------------------------

TEST(OsWindows, HalOsLockIsANamedMutexOtherProcessesSee) {
  HalOsLock lock;
  EXPECT_EQ(lock.name().find('_'), 0u);
  EXPECT_CONTAINS(lock.name(), "HalOsLock_" + std::to_string(os::processId()));
  ASSERT_TRUE(lock.lock());
  ASSERT_TRUE(lock.lock()) << "the owner takes it again";
  EXPECT_EQ(runChild("MutexState", lock.name() + "|held"), 0);
  EXPECT_TRUE(lock.unlock());
  EXPECT_TRUE(lock.unlock());
  EXPECT_EQ(runChild("MutexState", lock.name() + "|free"), 0);
}

TEST(OsWindows, AnAbandonedMutexFailsOnceAndStaysUsable) {
  os::Mutex mutex;
  std::thread([&] { EXPECT_EQ(mutex.lockFor(0), os::Mutex::WaitResult::Acquired); }).join();
  EXPECT_EQ(mutex.lockFor(100), os::Mutex::WaitResult::Failed);
  std::thread([&] {
    EXPECT_EQ(mutex.lockFor(100), os::Mutex::WaitResult::Acquired) << "given back, not kept";
    mutex.unlock();
  }).join();
}

TEST(OsWindows, ArgumentsFollowTheRuntimesQuotingRules) {
  EXPECT_EQ(runChild("Arguments", "args", "\"a b\" c\\\"d e\\\\\\\\f\\"), 0);
}

TEST(OsWindows, DirectorySearchWithCreationTimes) {
  TempDir dir;
  int64_t before = os::nowSeconds();
  dir.write("javacore.1.txt", "x");
  dir.write("javacore.2.txt", "y");
  dir.write("JAVACORE.3.txt", "z");
  dir.write("other.txt", "o");
  std::vector<std::string> names;
  int error = -1;
  ASSERT_TRUE(os::listDirectory(dir.path().c_str(), "javacore", &names, &error));
  EXPECT_EQ(error, 0);
  EXPECT_EQ(names, (std::vector<std::string>{"javacore.1.txt", "javacore.2.txt"}))
      << "the prefix is exact, as on other systems";
  int64_t created = 0;
  ASSERT_TRUE(os::fileCreatedSeconds(dir.at("javacore.1.txt").c_str(), &created));
  EXPECT_GE(created, before - 2);
  EXPECT_LE(created, os::nowSeconds() + 2);

  names.clear();
  EXPECT_TRUE(os::listDirectory(dir.path().c_str(), "none", &names, &error));
  EXPECT_TRUE(names.empty());
  EXPECT_FALSE(os::listDirectory(dir.at("missing").c_str(), "javacore", &names, &error));
  EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(os::removeFile(dir.at("missing.txt").c_str()), ENOENT);
  EXPECT_TRUE(os::isAbsolutePath("C:\\x"));
  EXPECT_TRUE(os::isAbsolutePath("\\\\host\\share"));
  EXPECT_FALSE(os::isAbsolutePath("C:x"));
}

// Each figure is within its range or the failure value. Wine's performance
// data helper knows fewer objects than Windows: the disk and network counters
// then take the failure path (0 and the message).
TEST(OsWindows, FiguresFromTheSystemsServices) {
  resetSystemFacts();
  EXPECT_GT(processorCount(), 0u);
  EXPECT_GT(totalPhysicalMemory(), 16u << 20);
  EXPECT_LT(processorClockMHz(), 100000u);
  EXPECT_GT(freeDiskSpace(), 0);
  EXPECT_GE(processSwapBytes(), 0);
  // The process's CPU time moves in ticks (15.6 ms on Windows, coarser under
  // a loaded emulator): spin until it moves, within a bound.
  int64_t cpu0 = os::processCpuNanos(), cpu1 = cpu0;
  for (int round = 0; round < 100 && cpu1 <= cpu0; round++) {
    for (volatile int i = 0; i < 20000000; i = i + 1) {
    }
    cpu1 = os::processCpuNanos();
  }
  EXPECT_GT(cpu1, cpu0);
  EXPECT_GE(samplePagingRate(1000), 0);

  CapturedOutput out;
  int64_t disk = diskBytesPerTransferMegabytes();
  int64_t network = networkMegabytesPerSecond();
  double machine = sampleMachineCpuPercent(200);
  out.finish();
  EXPECT_GE(disk, 0);
  EXPECT_GE(network, 0);
  EXPECT_TRUE(machine == -1.0 || (machine >= 0.0 && machine <= 100.0)) << machine;
  for (const char* line :
       {"unable to allocate buffer\n", "PdhOpenQuery failed\n", "PdhAddCounter failed\n",
        "PdhCollectQueryData failed\n", "PdhGetFormattedCounterValue failed\n"})
    if (countOf(out.out(), line) > 0) {
      EXPECT_EQ(disk + network, 0) << "failure path: " << line;
    }
}

}  // namespace
