// The event agent manager: owns the event agents that drain the per-thread queues into packets.
#pragma once

#include "base/NamedObject.h"

class EvtAgentMgr : public NamedObject {
 public:
  EvtAgentMgr();
  ~EvtAgentMgr() override;
  void start();
  void stop();
};

extern EvtAgentMgr* evtAgentMgr;
