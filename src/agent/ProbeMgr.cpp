#include "agent/ProbeMgr.h"

#include <cstdio>
#include <cstring>

#include "config/L3Switch.h"
#include "config/ProbeState.h"
#include "events/ProtocolVisitor.h"
#include "platform/jvmpi.h"
#include "profiler/EventHandler.h"
#include "profiler/Tables.h"

ProbeMgr* probeMgr = nullptr;

namespace {
constexpr jint kProbeEvents[] = {JVMPI_EVENT_THREAD_START, JVMPI_EVENT_THREAD_END,
                                 JVMPI_EVENT_GC_START, JVMPI_EVENT_GC_FINISH};
}

ProbeMgr::ProbeMgr()
    : NamedObject("ProbeMgr"), commandAgentID{}, adminServerPort(0), firstStart(true) {
  std::snprintf(productVersion, sizeof productVersion, "%s", "0.0.0");
}

void ProbeMgr::start() {
  if (!jvmpi) {
    logError("ProbeMgr", __LINE__, "JVMPI was NOT initialized by Native Probe Start, exiting");
    logInfo("ProbeMgr", __LINE__,
            "Error occured when starting ProbeManager, JVMPI initialization failed!");
    return;
  }
  if (firstStart) {
    createMethodAndClassTables();
    firstStart = false;
  }
  installEventHandler();
  for (jint event : kProbeEvents) jvmpi->EnableEvent(event, nullptr);
  logInfo("ProbeMgr", __LINE__, "Enabled JVMPI events.");
  resetClassSequence();
  if (modLevel.load() == 3) runL3Switch();
  logInfo("ProbeMgr", __LINE__, "ProbeManager Started..");
}

void ProbeMgr::stop() {
  if (jvmpi)
    for (jint event : kProbeEvents) jvmpi->DisableEvent(event, nullptr);
  logInfo("ProbeMgr", __LINE__, "Disabled JVMPI events.");
  if (modLevel.load() == 3) runL3Switch();
  logInfo("ProbeMgr", __LINE__, "Probe Manager stopped successfully..");
}

void fillProbeIdentity(HelloIdentity* id) {
  ProbeMgr* mgr = probeMgr;
  if (!mgr) return;
  static_assert(sizeof id->productVersion == sizeof mgr->productVersion, "same size");
  static_assert(sizeof id->commandAgentID == sizeof mgr->commandAgentID, "same size");
  std::memcpy(id->productVersion, mgr->productVersion, sizeof id->productVersion);
  id->productVersion[sizeof id->productVersion - 1] = '\0';
  std::memcpy(id->commandAgentID, mgr->commandAgentID, sizeof id->commandAgentID);
  id->commandAgentID[sizeof id->commandAgentID - 1] = '\0';
  id->adminServerPort = mgr->adminServerPort;
}
