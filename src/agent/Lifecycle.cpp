#include "agent/Lifecycle.h"
#include "agent/LifecycleTestAccess.h"

#include <cstdio>
#include <cstring>

#include "agent/ProbeMgr.h"
#include "agent/Startup.h"
#include "base/HalLock.h"
#include "base/Log.h"
#include "config/BuildTime.h"
#include "config/Identity.h"
#include "config/ProbeState.h"
#include "config/ProducerSettings.h"
#include "config/PropertyMgr.h"
#include "events/ProtocolVisitor.h"
#include "instrument/ClassLoadHook.h"
#include "instrument/InstrumentSetup.h"
#include "platform/jvmpi.h"
#include "platform/os.h"
#include "profiler/ClassEvents.h"
#include "profiler/ClassTable.h"
#include "profiler/EventHandler.h"
#include "profiler/LockAgentMgr.h"
#include "profiler/MethodLevelOptions.h"
#include "profiler/TableLocks.h"
#include "profiler/Tables.h"
#include "publish/AppServerName.h"
#include "publish/ClassTableWalk.h"
#include "publish/EvtAgentMgr.h"
#include "publish/NetworkAgentMgr.h"
#include "requests/GpsCounter.h"
#include "requests/NestedRequests.h"
#include "threads/MemoryMonitor.h"
#include "threads/ThreadDrain.h"
#include "threads/ThreadMgr.h"

namespace {

long long stopWaitMillis = 10000;

// The event-enabling step of the entry point.
void enableStartupEvent(jint event) {
  if (!jvmpi && !initializeJVMPI()) {
    logMessage(LOG_INFO, "Unable to initialize JVMPI");
    return;
  }
  installEventHandler();
  jvmpi->EnableEvent(event, nullptr);
}

// The first part of customServiceStart: the interface and the table locks.
bool eventInterfaceStep() {
  if (!jvmpi) {
    if (!initializeJVMPI()) {
      logMessage(LOG_ERROR, "Initialization of event interface NOT successful");
      return false;
    }
    logMessage(LOG_INFO, "Initializing of event interface done..");
  }
  createTableLocks();
  return true;
}

// The event agents resend the class records of the real class table; the
// garbage-collection records go to the first event agent's special queue.
void walkLiveClasses(ClassVisitor visit, void* context) {
  if (ClassTable* table = classTable()) table->forEachLive(visit, context);
}
ThreadData* firstAgentSpecialQueue() {
  return evtAgentMgr ? evtAgentMgr->firstSpecialQueue() : nullptr;
}
void wireProfiler() {
  setClassTableWalker(walkLiveClasses);
  setGcQueueSource(firstAgentSpecialQueue);
}

template <typename T>
void destroy(T*& singleton) {
  delete singleton;
  singleton = nullptr;
}

// Start-order calls on managers that must exist: starting or stopping before
// customServiceStart made them is refused rather than touching absent ones.
bool managersExist() {
  return lockAgentMgr && memoryMonitor && networkAgentMgr && evtAgentMgr && threadMgr;
}

}  // namespace

void setStopWaitMillis(long long millis) {
  stopWaitMillis = millis;
}

int runStartup(JavaVM* vm, const char* options) {
  std::fputs("## Tracer Mode: Default State: false \n", stdout);
  std::fflush(stdout);
  if (options && std::strncmp(options, "debug=on", 8) == 0) os::sleepMillis(30);

  identityStartup(vm);

  char text[200];
  formatText(text, sizeof text, "***** Native Library Build TIME : %s DATE: %s******\n",
             buildTime(), buildDate());
  logMessage(LOG_INFO, text);

  applyMethodLevelOptions(readMethodLevelSettings());
  setNestedRequestSwitch(readNestedRequestSuppression());
  cachedProcessId();

  if (!initializeJVMPI()) return -1;
  installEventHandler();
  if (!instrumentationSetup("")) return 0;
  setJavaInstrumentEntry(bootstrapClassRef, instrumentClassMethod);
  setClassLoadHookHandler(instrumentClassLoadHook, instrumentClassPrepared);
  enableStartupEvent(JVMPI_EVENT_CLASS_LOAD_HOOK);
  enableStartupEvent(JVMPI_EVENT_JVM_INIT_DONE);
  return 0;
}

bool customServiceStart() {
  logMessage(LOG_INFO, "Starting Native Custom Service initialize.. ");
  if (!eventInterfaceStep()) {
    logMessage(LOG_ERROR, "Custom Service initialization failed as JVMPI could not be initialized");
    return false;
  }
  if (!lockAgentMgr) lockAgentMgr = new LockAgentMgr();
  PropertyMgr::instance();
  if (!probeMgr) probeMgr = new ProbeMgr();
  if (!memoryMonitor) memoryMonitor = new MemoryMonitor();
  if (!networkAgentMgr) networkAgentMgr = new NetworkAgentMgr();
  if (!evtAgentMgr) evtAgentMgr = new EvtAgentMgr();
  if (!threadMgr) threadMgr = new ThreadMgr();
  installThreadDrain(evtAgentMgr);
  if (!protocolVisitor) protocolVisitor = new ProtocolVisitor(saveGpsCounter);
  setProbeIdentitySource(fillProbeIdentity);
  wireProfiler();
  logMessage(LOG_INFO, "Native Custom Service initialization successful.. ");
  return true;
}

void startNativeProbe() {
  if (!probeMgr) probeMgr = new ProbeMgr();
  if (!managersExist()) {
    logMessage(LOG_ERROR, "Native Probe cannot start before the custom service has started");
    return;
  }
  logMessage(LOG_INFO, "Native Probe starting.. ");
  lockAgentMgr->start();
  PropertyMgr::instance()->start();
  memoryMonitor->start();
  networkAgentMgr->start();
  evtAgentMgr->start();
  // A lost connection makes the master event agent resend its opening.
  networkAgentMgr->setReconnectListener(evtAgentMgr);
  threadMgr->start();
  probeMgr->start();
  logMessage(LOG_INFO, "Native Probe started successfully.. ");
}

void stopNativeProbe() {
  if (!probeMgr) probeMgr = new ProbeMgr();
  if (!managersExist()) {
    logMessage(LOG_ERROR, "Native Probe cannot stop before the custom service has started");
    return;
  }
  logMessage(LOG_INFO, "Native Probe stopping.. ");
  probeDisabled.store(true);

  // Give requests in flight and the agents' last cycles time to finish.
  probeMgr->logInfo("ProbeMgr", __LINE__, "Waiting for 10 secs");
  if (jvmpi) {
    HalLock wait(true);
    if (!wait.monitor()) {
      std::fputs("## ERROR: JVMPI could not create a Raw Monitor", stderr);
    } else {
      wait.sleep(stopWaitMillis);
    }
  }
  probeMgr->logInfo("ProbeMgr", __LINE__, "Waiting DONE 10 secs");

  probeMgr->stop();
  networkAgentMgr->stop();
  networkAgentMgr->setReconnectListener(nullptr);
  evtAgentMgr->stop();
  threadMgr->stop();
  memoryMonitor->stop();
  lockAgentMgr->stop();
  logMessage(LOG_INFO, "Native Probe stopped successfully.. ");
}

void customServiceShutDown() {
  logMessage(LOG_INFO, "Native Custom Service shutting down.. ");
  destroy(protocolVisitor);
  destroy(networkAgentMgr);
  installThreadDrain(nullptr);
  destroy(evtAgentMgr);
  destroy(memoryMonitor);
  destroy(probeMgr);
  PropertyMgr::destroyInstance();
  destroy(lockAgentMgr);
  logMessage(LOG_INFO, "Native Custom Service shutdown complete.. ");
  closeLog();
}
