// The lock agent manager. Its first start creates the process-wide global
// lock that serialises the lazy creation of raw monitors; its destruction
// destroys that lock.
#pragma once

#include "base/NamedObject.h"

class LockAgentMgr : public NamedObject {
 public:
  LockAgentMgr();
  ~LockAgentMgr() override;
  void start();
  void stop();
};

extern LockAgentMgr* lockAgentMgr;
