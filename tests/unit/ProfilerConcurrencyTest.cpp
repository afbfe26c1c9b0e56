// Class loads, method entries and exits, unloads with cleanup rounds and
// replacements of the include/exclude lists, all at once: run under
// ThreadSanitizer by the test command.
#include <atomic>
#include <thread>

#include "profiler/MethodLevelOptionsTestAccess.h"
#include "support/ProfilerTestEnv.h"

namespace {

class ProfilerConcurrency : public ProfilerTestEnv {
 protected:
  void race(int threshold);
};

constexpr int kCallers = 3;
constexpr int kRounds = 300;

// Every `threshold`-th unload runs a cleanup round, with no wait beyond the
// readers; -1 removes each unloaded class at once, while lookups run
// without locks.
void ProfilerConcurrency::race(int threshold) {
  setMethodLevelOptions(false, threshold, 0);
  std::atomic<bool> done{false};
  std::atomic<long> recorded{0};
  std::atomic<int> started{0};
  // One class stays loaded and monitored throughout.
  loadClass(fakeEnv(0x7e0000003000), "race/C1Keep", 99999, {{"m", 4}});

  // Class ids 1..kRounds come and go; method id of class c is c * 8.
  std::thread loader([&] {
    JNIEnv* env = fakeEnv(0x7e0000003000);
    while (started.load() < kCallers) std::this_thread::yield();
    for (jobjectID c = 1; c <= kRounds; c++) {
      std::string name = "race/C" + std::to_string(c);
      loadClass(env, name.c_str(), c, {{"m", c * 8}, {"finalize", c * 8 + 4}});
      if (c > 20) unloadClass(env, c - 20);
    }
    done.store(true);
  });
  std::thread lists([&] {
    int i = 0;
    while (!done.load()) {
      setFilterLists({"race/C1*"}, {i++ % 2 ? "race/*" : "x/*"});
      classTable()->refilter();
    }
  });
  std::vector<std::thread> callers;
  for (int t = 0; t < kCallers; t++) {
    callers.emplace_back([&, t] {
      JNIEnv* env = fakeEnv(0x7e0000004000 + 0x100 * t);
      ThreadData* data = threadMgr->getThreadData(env);
      jmethodIDp id = 8;
      started++;
      for (int calls = 0; !done.load() || calls < 2000; calls++) {
        for (jmethodIDp called : {id, jmethodIDp{4}}) {
          methodEvent(env, JVMPI_EVENT_METHOD_ENTRY, called);
          methodEvent(env, JVMPI_EVENT_METHOD_EXIT, called);
        }
        id = id % (kRounds * 8) + 8;
        recorded += static_cast<long>(drain(data).size());
      }
      recorded += static_cast<long>(drain(data).size());
    });
  }
  loader.join();
  lists.join();
  for (auto& c : callers) c.join();

  EXPECT_GT(recorded.load(), 0);
  EXPECT_EQ(liveClasses().size(), 21u);
  EXPECT_FALSE(methodLevelSync());
}

TEST_F(ProfilerConcurrency, LoadsEntriesUnloadsAndListChangesRace) {
  race(3);
}

TEST_F(ProfilerConcurrency, ImmediateUnloadsRaceLockFreeLookups) {
  race(-1);
}

}  // namespace
