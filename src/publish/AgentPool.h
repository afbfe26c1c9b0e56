// What the two agent pools (event agents, network agents) share: the pool
// size property, the checked agent id of the start and stop natives, the run
// of an agent's loop under the pool's call count, and the stop of the whole
// pool, which asks every agent to stop and then waits in one-second rounds
// while any agent thread is still in its loop.
#pragma once

#include <jni.h>

#include <atomic>

#include "base/HalLock.h"
#include "base/Log.h"
#include "base/NamedObject.h"
#include "config/PropertyMgr.h"
#include "publish/CallCount.h"

// The pool size the property `key` asks for: a pool of no agent could never
// work, so one is the least.
inline int poolSizeProperty(const char* key) {
  int size = getIntProperty(key, 1);
  return size < 1 ? 1 : size;
}

// False, with "Trying to <what> with improper ID: <id> [0-<last>]" in the
// log, when id is not one of the pool's.
inline bool agentIdInPool(const NamedObject& owner, const char* unit, const char* what, int id,
                          int poolSize) {
  if (id >= 0 && id < poolSize) return true;
  owner.logf(LOG_ERROR, unit, __LINE__, "Trying to %s with improper ID: %d [0-%d]", what, id,
             poolSize - 1);
  return false;
}

// Runs agent id's loop on the calling thread unless the pool is not started
// or the agent already runs. The call count is held for the whole loop: the
// pool's stop waits for the loop to end before it deletes the agent.
template <typename Agent>
void runPoolAgent(CallCount& calls, std::atomic<bool>& started, Agent* const* agents, int id,
                  JNIEnv* env) {
  CallCount::Guard guard(calls, started);
  if (!guard.started()) return;
  Agent* a = agents[id];
  if (a->isAlive()) return;
  a->run(env);
}

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
