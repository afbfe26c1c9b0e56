// The event agent manager: owns the event agents that drain the per-thread
// queues into packets, assigns every new thread to one of them, and keeps
// track of the master agent that sends the hello packet and the class
// records.
#pragma once

#include <jni.h>

#include <atomic>
#include <memory>

#include "base/HalLock.h"
#include "base/NamedObject.h"
#include "publish/CallCount.h"
#include "publish/ReconnectListener.h"
#include "threads/ThreadDrain.h"

class EventAgent;
class ThreadData;

class EvtAgentMgr : public NamedObject, public ThreadDrain, public ReconnectListener {
 public:
  // Reads the pool size; the agents are made at start.
  EvtAgentMgr();
  ~EvtAgentMgr() override;

  // The pool size the properties ask for ("eventagent.pool.size", at least
  // one).
  static int configuredPoolSize();

  // Creates the agents and makes agent 0 the master with its hello due.
  void start();
  // Asks every agent to stop, waits in one-second rounds while any is alive,
  // then deletes the agents.
  void stop();

  bool isStarted() const { return started_.load(std::memory_order_relaxed); }
  // True while the master event agent's loop runs.
  bool isMasterRunning() const { return masterRunning_.load(std::memory_order_relaxed); }
  void setMasterRunning(bool running) { masterRunning_.store(running, std::memory_order_relaxed); }
  bool acceptsThreads() const override { return isStarted() && isMasterRunning(); }

  // Assigns a new thread's record to one event agent (round-robin over the
  // alive agents); false when no agent can take it.
  bool manageThreadData(ThreadData* data) override;

  // The special queue of the first event agent, for records that belong to no
  // particular thread; null when that agent has none yet.
  ThreadData* firstSpecialQueue() override;

  // A connection to the collector was lost or reset: the master resends its
  // hello packet and the class records once it is back.
  void resendInitData() override;

  int getPoolSize() const { return poolSize_; }
  // Agent id, or null when out of range or the agents are not made.
  EventAgent* agent(int id);
  EventAgent* master() const override { return master_.load(); }
  // False while a resend of initial data is in progress.
  bool isInitComplete() const { return initComplete_.load(); }
  void setInitComplete(bool value) { initComplete_.store(value); }

  // The natives startThread and stopThread.
  void runAgent(int id, JNIEnv* env);
  void stopAgent(int id);

  // An agent's loop started or ended: the master's state is the probe's
  // event-agent readiness.
  void agentStateChanged(EventAgent* agent, bool running);
  // The master's memory report: the queued bytes of all agents, the thread
  // table's size and the network agents' pending bytes go to the memory
  // monitor.
  void reportMemory();
  // The sum of all agents' queued bytes (0 when negative).
  uint32_t totalQueuedBytes();

 private:
  // Counts the calls from other threads that use the agents, so that stop
  // deletes them only once none is left inside.

  std::atomic<bool> started_{false};
  std::atomic<bool> masterRunning_{false};
  std::unique_ptr<EventAgent*[]> agents_;
  int nextAgent_ = 0;
  HalLock lock_;
  int poolSize_;
  std::atomic<bool> initComplete_{true};
  std::atomic<EventAgent*> master_{nullptr};
  CallCount calls_;
};

extern EvtAgentMgr* evtAgentMgr;
