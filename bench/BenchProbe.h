// A running probe for benchmarks: the interface of BenchInterface.h, a started
// event agent manager whose master takes the threads the started thread table
// hands over (without its loop), and the probe enabled.
#pragma once

#include "BenchInterface.h"
#include "config/ProbeState.h"
#include "publish/EventAgent.h"
#include "publish/EventAgentTestAccess.h"
#include "publish/EvtAgentMgr.h"
#include "threads/TextLimits.h"
#include "threads/ThreadData.h"
#include "threads/ThreadDrain.h"
#include "threads/ThreadMgr.h"

namespace bench {

inline void startProbe() {
  installInterface();
  evtAgentMgr = new EvtAgentMgr();
  evtAgentMgr->start();
  evtAgentMgr->setMasterRunning(true);
  installThreadDrain(evtAgentMgr);
  threadMgr = new ThreadMgr();
  threadMgr->start();
  EventAgentTestAccess::attach(*evtAgentMgr->agent(0), reinterpret_cast<JNIEnv*>(0x7e7000001000));
  probeDisabled.store(false);
}

// startProbe once, whichever benchmark thread comes first, with the text
// limits read.
inline void startProbeOnce() {
  static const bool ready = [] {
    startProbe();
    setTextLimits(readTextLimitSettings());
    return true;
  }();
  (void)ready;
}

// Takes every record off the thread's queue, as its event agent would.
inline void drainQueue(ThreadData* data) {
  while (EventRecord* r = data->takeFirst()) {
    data->recordTaken(r);
    delete r;
  }
}

}  // namespace bench
