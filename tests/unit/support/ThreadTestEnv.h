// A started thread table over the profiler test double, with an event agent
// manager that is started and whose master runs, the probe enabled and the
// memory gate open: the state in which the request natives record. Tests of
// the thread subsystem derive their fixtures from it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "base/Log.h"
#include "config/ProbeState.h"
#include "config/ProbeStateTestAccess.h"
#include "config/PropertyMgr.h"
#include "events/EventRecord.h"
#include "publish/EventAgent.h"
#include "publish/EventAgentTestAccess.h"
#include "publish/EvtAgentMgr.h"
#include "requests/NestedRequests.h"
#include "support/FakeJvmpi.h"
#include "support/TestSupport.h"
#include "threads/MemoryMonitor.h"
#include "threads/TextLimits.h"
#include "threads/ThreadData.h"
#include "threads/ThreadDrain.h"
#include "threads/ThreadMgr.h"

class ThreadTestEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.install();
    resetProbeState();
    probeDisabled.store(false);
    memoryGateClosed.store(false);
    nestedRequestSuppression.store(false);
    PropertyMgr::destroyInstance();
    initTextLimits();
    setTextLimits(readTextLimitSettings());
    evtAgentMgr = new EvtAgentMgr();
    evtAgentMgr->start();
    evtAgentMgr->setMasterRunning(true);
    installThreadDrain(evtAgentMgr);
    threadMgr = new ThreadMgr();
    threadMgr->start();
    // The master event agent set up as its loop does, so that it takes the
    // threads the table hands over.
    EventAgentTestAccess::attach(*evtAgentMgr->agent(0), fakeEnv(0x7e0000001000));
    baseCount = threadMgr->getThreadCount();
  }

  void TearDown() override {
    if (EventAgent* master = evtAgentMgr->agent(0)) EventAgentTestAccess::detach(*master);
    delete threadMgr;
    threadMgr = nullptr;
    installThreadDrain(nullptr);
    delete evtAgentMgr;
    evtAgentMgr = nullptr;
    PropertyMgr::destroyInstance();
    nestedRequestSuppression.store(false);
    memoryGateClosed.store(false);
    resetProbeState();
    fake.uninstall();
  }

  // A JNIEnv value that is never dereferenced: the plain operations use it
  // only as the thread's identity. Each test gets addresses of its own.
  static JNIEnv* fakeEnv(uintptr_t value) { return reinterpret_cast<JNIEnv*>(value); }

  // Sets a property before the code under test reads it.
  static void setProperty(const char* key, const char* value) {
    PropertyMgr::instance()->putProperty(key, value);
  }

  // Takes every queued record off, oldest first; the caller owns them.
  static std::vector<std::unique_ptr<EventRecord>> drain(ThreadData* data) {
    std::vector<std::unique_ptr<EventRecord>> records;
    while (EventRecord* r = data->takeFirst()) {
      data->recordTaken(r);
      records.emplace_back(r);
    }
    return records;
  }

  // Records in the table before the test made any (an event agent's own).
  uint32_t baseCount = 0;
  FakeJvmpi fake;
};
