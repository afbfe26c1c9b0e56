// The event agent manager: owns the event agents that drain the per-thread
// queues into packets, and assigns every new thread to one of them.
#pragma once

#include <atomic>

#include "base/NamedObject.h"

class ThreadData;

class EvtAgentMgr : public NamedObject {
 public:
  EvtAgentMgr();
  ~EvtAgentMgr() override;
  void start();
  void stop();

  bool isStarted() const { return started_.load(std::memory_order_relaxed); }
  // True while the master event agent's loop runs.
  bool isMasterRunning() const { return masterRunning_.load(std::memory_order_relaxed); }
  void setMasterRunning(bool running) { masterRunning_.store(running, std::memory_order_relaxed); }

  // Assigns a new thread's record to one event agent (round-robin); false
  // when no agent can take it.
  bool manageThreadData(ThreadData* data);

  // The special queue of the first event agent, for records that belong to no
  // particular thread; null when that agent has none yet.
  ThreadData* firstSpecialQueue();

 private:
  std::atomic<bool> started_{false};
  std::atomic<bool> masterRunning_{false};
};

extern EvtAgentMgr* evtAgentMgr;
