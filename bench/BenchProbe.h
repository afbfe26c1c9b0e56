// A running probe for benchmarks: the interface of BenchInterface.h, a started
// event agent manager whose master takes the threads the started thread table
// hands over (without its loop), and the probe enabled.
#pragma once

#include "BenchInterface.h"
#include "config/ProbeState.h"
#include "publish/EventAgent.h"
#include "publish/EvtAgentMgr.h"
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
  evtAgentMgr->agent(0)->attachForTest(reinterpret_cast<JNIEnv*>(0x7e7000001000));
  probeDisabled.store(false);
}

}  // namespace bench
