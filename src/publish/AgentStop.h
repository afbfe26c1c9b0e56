// The stop of an agent pool: every agent is asked to stop, then the manager
// waits in one-second rounds while any agent thread is still in its loop.
#pragma once

#include "base/HalLock.h"
#include "base/Log.h"
#include "base/NamedObject.h"

template <typename Agent>
void stopAgentsAndWait(Agent* const* agents, int count, const NamedObject& owner, const char* unit,
                       const char* kind) {
  for (int i = 0; i < count; i++) agents[i]->requestStop();
  for (;;) {
    int alive = -1;
    for (int i = 0; i < count && alive < 0; i++)
      if (agents[i]->isAlive()) alive = i;
    if (alive < 0) return;
    owner.logf(LOG_INFO, unit, __LINE__, "%s ID: %d was alive, waiting for 1 secs", kind, alive);
    sleepOnMonitor(1000);
  }
}
