#include "agent/Startup.h"

#include <cstdio>

#include "base/Log.h"
#include "config/Identity.h"
#include "config/ModFile.h"
#include "config/ProbeState.h"
#include "config/PropertyMgr.h"
#include "config/WallClock.h"
#include "platform/JvmtiProvider.h"
#include "platform/JvmtiRas.h"
#include "platform/jvmpi.h"
#include "platform/os.h"

bool identityStartup(JavaVM* vm) {
  javaVM = vm;
  setArgumentCopy(os::argumentVector());
  if (argumentCount() == 0) std::fputs("halden_argv == NULL, failed to initialize...\n", stderr);
  std::vector<const char*> argv;
  for (int i = 0; i < argumentCount(); i++) argv.push_back(argumentAt(i));
  resolveIdentity(static_cast<int>(argv.size()), argv.data());
  makeHomeDirAbsolute();
  createMonitoredDirectory();
  openLog(homeDir, nodeName, serverName, profileName, cachedProcessId());
  PropertyMgr::instance();
  loadWallClockSetting();
  runModFileStep();
  setBootClassName(getProperty("XRPS.bootclassname"));
  std::printf("XRPS boot class name is %s.\n", bootClassName);
  return true;
}

bool initializeJVMPI() {
  if (jvmpi) return true;
  logMessage(LOG_INFO, "Initializing interface \n");
  // A current JVM offers JVMTI: the provider builds the interface on it. Only
  // a JVM without JVMTI is asked for the profiler interface itself (asking a
  // current JVM for it prints an error line on its console).
  JVMPI_Interface* table = javaVM ? jvmtiProviderInstall(javaVM) : nullptr;
  // Follows threads from here on, for the thread facts and thread dumps.
  if (table) jvmtiRasInstall(javaVM);
  if (!table && javaVM) {
    void* env = nullptr;
    if (javaVM->GetEnv(&env, JVMPI_VERSION_1_1) >= 0) table = static_cast<JVMPI_Interface*>(env);
  }
  if (!table) {
    logMessage(LOG_ERROR, "Failed during interface initialization");
    return false;
  }
  table->EnableEvent(JVMPI_EVENT_INTERFACE_READY, nullptr);
  jvmpi = table;
  logMessage(LOG_INFO, "Initializing event interface successful \n");
  return true;
}
