#include "agent/Lifecycle.h"
#include "agent/LifecycleTestAccess.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "agent/ProbeMgr.h"
#include "base/HalLock.h"
#include "base/Log.h"
#include "base/LogTestAccess.h"
#include "config/Identity.h"
#include "config/ProbeState.h"
#include "config/ProbeStateTestAccess.h"
#include "config/PropertyMgr.h"
#include "events/AgentRecords.h"
#include "events/ProtocolVisitor.h"
#include "profiler/LockAgentMgr.h"
#include "profiler/TableLocks.h"
#include "profiler/Tables.h"
#include "publish/EventAgent.h"
#include "publish/EventAgentTestAccess.h"
#include "publish/EvtAgentMgr.h"
#include "publish/NetworkAgentMgr.h"
#include "support/FakeJvmpi.h"
#include "support/TestSupport.h"
#include "threads/MemoryMonitor.h"
#include "threads/ThreadData.h"
#include "threads/ThreadMgr.h"

namespace {

const std::vector<jint> kProbeEvents = {JVMPI_EVENT_THREAD_START, JVMPI_EVENT_THREAD_END,
                                        JVMPI_EVENT_GC_START, JVMPI_EVENT_GC_FINISH};

// The managers the custom service start makes and its shutdown deletes.
int liveManagers() {
  const void* managers[] = {lockAgentMgr, probeMgr,        memoryMonitor,          networkAgentMgr,
                            evtAgentMgr,  protocolVisitor, PropertyMgr::existing()};
  int n = 0;
  for (const void* m : managers) n += m != nullptr;
  return n;
}

// A home with a catalogue and a logs folder; the orders run against the test
// double of the profiler interface. Whatever a test leaves is shut down.
class Lifecycle : public testing::Test {
 protected:
  void SetUp() override {
    resetLog();
    resetProbeState();
    home.makeDir("etc");
    home.makeDir("logs");
    home.makeDir("lib");
    home.write("etc/LogMessages", "PROBE_INFO=%s\n");
    identity.set(home.path(), "n", "s");
    setStopWaitMillis(30);
  }

  void TearDown() override {
    if (!jvmpi) fake.install();
    {
      CapturedOutput quiet;
      customServiceShutDown();
    }
    // The shutdown order keeps the thread manager; the tests do not.
    delete threadMgr;
    threadMgr = nullptr;
    delete probeMgr;
    probeMgr = nullptr;
    PropertyMgr::destroyInstance();
    destroyGlobalLock();
    fake.uninstall();
    setStopWaitMillis(10000);
    resetProbeState();
    resetLog();
  }

  void openTestLog() {
    CapturedOutput quiet;
    openLog(home.path().c_str(), "n", "s", "", getpid());
    ASSERT_NE(logFileName(), nullptr);
    logPath = logFileName();
  }
  std::string log() { return readFile(logPath); }

  // Runs customServiceStart and startNativeProbe quietly.
  void startAll() {
    CapturedOutput quiet;
    ASSERT_TRUE(customServiceStart());
    startNativeProbe();
  }

  FakeJvmpi fake;
  IdentityScope identity;
  TempDir home;
  std::string logPath;
};

}  // namespace

TEST_F(Lifecycle, StartAndStopBeforeCustomServiceStartAreRefused) {
  fake.install();
  openTestLog();
  startNativeProbe();
  stopNativeProbe();
  EXPECT_TRUE(fake.enabled().empty());
  EXPECT_TRUE(fake.disabled().empty());
  EXPECT_EQ(lockAgentMgr, nullptr);
  EXPECT_EQ(globalLockMonitor(), nullptr);
  std::string text = log();
  EXPECT_EQ(text.find("Native Probe starting.. "), std::string::npos);
  EXPECT_EQ(text.find("Native Probe stopping.. "), std::string::npos);
  EXPECT_EQ(countOf(text, "##ERROR: "), 2);
}

// The start starts the managers in their order and enables the probe events
// once the class and method tables exist (an event may come at once), and
// leaves the probe disabled; the stop waits, then disables them; the probe
// can be started again.
TEST_F(Lifecycle, StartStopAndStartAgain) {
  fake.install();
  static bool tablesBeforeEvents;
  static jint (*enable)(jint, void*);
  tablesBeforeEvents = false;
  enable = fake.table.EnableEvent;
  fake.table.EnableEvent = [](jint event, void* arg) {
    if (event == JVMPI_EVENT_THREAD_START) tablesBeforeEvents = classTable() && methodTable();
    return enable(event, arg);
  };
  openTestLog();
  startAll();
  EXPECT_TRUE(inOrder(log(), {"LockAgentMgr started..", "PropertyMgr started.",
                              "MemoryMonitor started.", "NetworkAgentManager started..",
                              "EvtAgentManager started..", "Thread Manager started..",
                              "Enabled JVMPI events.", "ProbeManager Started.."}));
  EXPECT_TRUE(tablesBeforeEvents);
  EXPECT_EQ(fake.enabled(), kProbeEvents);
  EXPECT_NE(globalLockMonitor(), nullptr);  // the lock agent manager's first start
  EXPECT_NE(fake.table.NotifyEvent, nullptr);
  EXPECT_FALSE(probeMgr->firstStart);
  EXPECT_TRUE(probeDisabled.load());
  CapturedOutput quiet;
  reportEventAgentRunning(true);
  reportNetworkAgentRunning(true);
  ASSERT_FALSE(probeDisabled.load());
  int destroyedBefore = fake.monitorsDestroyed();
  stopNativeProbe();  // its wait is timed in the JVM lifecycle test
  EXPECT_TRUE(probeDisabled.load());
  EXPECT_EQ(fake.disabled(), kProbeEvents);
  // The private wait lock, and the locks of the agents the managers delete.
  EXPECT_GE(fake.monitorsDestroyed(), destroyedBefore + 1);
  startNativeProbe();
  std::vector<jint> twice = kProbeEvents;
  twice.insert(twice.end(), kProbeEvents.begin(), kProbeEvents.end());
  EXPECT_EQ(fake.enabled(), twice);
}

// Garbage-collection records go to the first event agent's special queue, the
// finish with its counters, which the "GC_STATS" line gives in halves.
TEST_F(Lifecycle, GarbageCollectionRecordsGoToTheFirstAgentsSpecialQueue) {
  home.write("etc/LogMessages", "GC_STATS=gc %u/%u %u/%u %u/%u\n");
  fake.install();
  openTestLog();
  startAll();
  CapturedOutput quiet;
  setLogLevel(LOG_DEBUG);
  EventAgent* first = evtAgentMgr->agent(0);
  EventAgentTestAccess::attach(*first, reinterpret_cast<JNIEnv*>(0x7e0000009000));
  reportEventAgentRunning(true);
  reportNetworkAgentRunning(true);
  JVMPI_Event event{};
  event.env_id = reinterpret_cast<JNIEnv*>(0x7e000000a000);
  event.event_type = JVMPI_EVENT_GC_START;
  fake.table.NotifyEvent(&event);
  event.event_type = JVMPI_EVENT_GC_FINISH;
  event.u.gc_info = {0x200000001, 3, 0x400000000};
  fake.table.NotifyEvent(&event);
  std::vector<std::string> seen;
  ThreadData* special = evtAgentMgr->firstSpecialQueue();
  while (EventRecord* r = special->takeFirst()) {
    special->recordTaken(r);
    auto* gc = static_cast<GcRecord*>(r);
    if (r->type == EVENT_GC)
      seen.push_back(std::to_string(r->subtype) + " " + std::to_string(gc->usedObjects) + " " +
                     std::to_string(gc->usedObjectSpace) + " " +
                     std::to_string(gc->totalObjectSpace));
    delete r;
  }
  EventAgentTestAccess::detach(*first);
  EXPECT_EQ(seen, (std::vector<std::string>{"0 0 0 0", "1 8589934593 3 17179869184"}));
  EXPECT_CONTAINS(log(), "gc 1/2 3/0 0/4");
}

TEST_F(Lifecycle, StopWithoutAWaitMonitorSkipsTheWait) {
  fake.install();
  startAll();
  setStopWaitMillis(60000);  // would hang the test if it were waited
  fake.failMonitorCreation(true);
  CapturedOutput captured;
  stopNativeProbe();
  EXPECT_CONTAINS(captured.err(), "## ERROR: JVMPI could not create a Raw Monitor");
  EXPECT_EQ(fake.disabled(), kProbeEvents);
}

TEST_F(Lifecycle, ShutdownDestroysTheManagersAndClosesTheLog) {
  fake.install();
  startAll();
  EXPECT_EQ(liveManagers(), 7);
  EXPECT_TRUE(tableLocks && threadMgr);
  ProbeMgr* first = probeMgr;
  {
    CapturedOutput quiet;
    EXPECT_TRUE(customServiceStart());  // a second call keeps the managers it finds
  }
  EXPECT_EQ(probeMgr, first);
  openTestLog();
  customServiceShutDown();
  EXPECT_EQ(liveManagers(), 0);
  EXPECT_EQ(globalLockMonitor(), nullptr);
  EXPECT_EQ(logFileName(), nullptr);
  CapturedOutput captured;
  logMessage(LOG_INFO, "after shutdown");
  EXPECT_CONTAINS(captured.out(), "after shutdown");
}

TEST_F(Lifecycle, StartupEnablesOnlyTheLoadHookAndInitDone) {
  home.write("etc/n.s.datacollector.properties", "XRPS.bootclassname=org.example.Boot\n");
  ScopedEnv envHome("hm.home", home.path().c_str());
  ScopedEnv envNode("hm.nodename", "n");
  ScopedEnv envServer("hm.appserver", "s");
  fake.install();
  CapturedOutput captured;
  EXPECT_EQ(runStartup(nullptr, "debug=on,more"), 0);
  EXPECT_EQ(fake.enabled(),
            (std::vector<jint>{JVMPI_EVENT_CLASS_LOAD_HOOK, JVMPI_EVENT_JVM_INIT_DONE}));
  EXPECT_NE(fake.table.NotifyEvent, nullptr);
  EXPECT_STREQ(bootClassName, "org/example/Boot");
  EXPECT_TRUE(fileExists(home.path() + "/lib/monitored/s"));
  EXPECT_EQ(readFile(home.path() + "/etc/n.s.hm.mod"), "2");
  EXPECT_NE(logFileName(), nullptr);
}

TEST_F(Lifecycle, StartupWithoutTheInterfaceFails) {
  ScopedEnv envHome("hm.home", home.path().c_str());
  ScopedEnv envNode("hm.nodename", "n");
  ScopedEnv envServer("hm.appserver", "s");
  CapturedOutput captured;
  EXPECT_EQ(runStartup(nullptr, nullptr), -1);
  EXPECT_FALSE(customServiceStart());
  captured.finish();
  EXPECT_EQ(liveManagers(), 1) << "only the property manager the start-up read";
  ASSERT_NE(logFileName(), nullptr);
  EXPECT_TRUE(inOrder(readFile(logFileName()),
                      {"##ERROR: Failed during interface initialization",
                       "##ERROR: Initialization of event interface NOT successful",
                       "##ERROR: Custom Service initialization failed as JVMPI could not "
                       "be initialized"}));
}
