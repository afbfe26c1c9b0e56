// The network agent manager: owns the network agents that send packets to the collector.
#pragma once

#include "base/NamedObject.h"

class NetworkAgentMgr : public NamedObject {
 public:
  NetworkAgentMgr();
  ~NetworkAgentMgr() override;
  void start();
  void stop();
};

extern NetworkAgentMgr* networkAgentMgr;
