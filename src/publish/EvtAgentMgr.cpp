#include "publish/EvtAgentMgr.h"

#include "base/Log.h"
#include "config/ProbeState.h"
#include "config/PropertyMgr.h"
#include "platform/jvmpi.h"
#include "platform/os.h"
#include "publish/AgentPool.h"
#include "publish/EventAgent.h"
#include "publish/NetworkAgentMgr.h"
#include "threads/MemoryMonitor.h"
#include "threads/ThreadMgr.h"

EvtAgentMgr* evtAgentMgr = nullptr;

EvtAgentMgr::EvtAgentMgr()
    : NamedObject("EvtAgentMgr"), lock_(false), poolSize_(configuredPoolSize()) {}

int EvtAgentMgr::configuredPoolSize() {
  return poolSizeProperty("eventagent.pool.size");
}

EvtAgentMgr::~EvtAgentMgr() {
  if (started_.load() || agents_) stop();
  if (evtAgentMgr == this) evtAgentMgr = nullptr;
}

void EvtAgentMgr::start() {
  if (started_.load()) return;
  agents_.reset(new EventAgent*[poolSize_]);
  // Read once for the whole pool.
  const EventAgentSettings settings = readEventAgentSettings();
  for (int i = 0; i < poolSize_; i++) agents_[i] = new EventAgent(this, i, settings);
  master_.store(agents_[0]);
  agents_[0]->setInitPending(true);
  initComplete_.store(true);
  started_.store(true);
  logInfo("EvtAgentMgr", __LINE__, "EvtAgentManager started..");
}

void EvtAgentMgr::stop() {
  started_.store(false);
  if (agents_) {
    stopAgentsAndWait(agents_.get(), poolSize_, *this, "EvtAgentMgr", "EventAgent");
    // Other threads may still be inside manageThreadData or the like.
    calls_.waitUntilIdle();
    master_.store(nullptr);
    for (int i = 0; i < poolSize_; i++) {
      if (agents_[i]->isAlive()) {
        logf(LOG_WARNING, "EvtAgentMgr", __LINE__,
             "EventAgent ID: %d still alive after 10 sec wait therefore not deleting", i);
        continue;
      }
      delete agents_[i];
    }
    agents_.reset();
  }
  initComplete_.store(true);
  master_.store(nullptr);
  logInfo("EvtAgentMgr", __LINE__, "EvtAgentManager stopped..");
}

EventAgent* EvtAgentMgr::agent(int id) {
  if (id < 0 || id >= poolSize_ || !agents_) return nullptr;
  return agents_[id];
}

void EvtAgentMgr::runAgent(int id, JNIEnv* env) {
  if (agentIdInPool(*this, "EvtAgentMgr", "start event agent", id, poolSize_))
    runPoolAgent(calls_, started_, agents_.get(), id, env);
}

void EvtAgentMgr::stopAgent(int id) {
  if (!agentIdInPool(*this, "EvtAgentMgr", "stop event agent", id, poolSize_)) return;
  CallCount::Guard guard(calls_, started_);
  if (EventAgent* a = agent(id)) a->requestStop();
}

bool EvtAgentMgr::manageThreadData(ThreadData* data) {
  CallCount::Guard guard(calls_, started_);
  if (!data || !guard.started() || !isMasterRunning() || !agents_) return false;
  EventAgent* chosen = agents_[0];
  if (poolSize_ > 1) {
    lock_.lock();
    int i = nextAgent_;
    nextAgent_ = (nextAgent_ + 1) % poolSize_;
    lock_.unlock();
    if (agents_[i]->isAlive()) {
      chosen = agents_[i];
    } else {
      for (int k = 0; k < poolSize_; k++) {
        if (agents_[k]->isAlive()) {
          chosen = agents_[k];
          break;
        }
      }
    }
  }
  return chosen->manageThreadData(data);
}

ThreadData* EvtAgentMgr::firstSpecialQueue() {
  CallCount::Guard guard(calls_, started_);
  if (!guard.started() || !agents_) return nullptr;
  return agents_[0]->specialQueue();
}

void EvtAgentMgr::resendInitData() {
  CallCount::Guard guard(calls_, started_);
  initComplete_.store(false);
  if (!agents_) return;
  EventAgent* m = master_.load();
  if (!m) {
    for (int i = 0; i < poolSize_ && !m; i++)
      if (agents_[i]->isAlive()) m = agents_[i];
    if (m) master_.store(m);
  }
  if (m) {
    m->setInitPending(true);
    m->setClassesPending(true);
  }
}

void EvtAgentMgr::agentStateChanged(EventAgent* agent, bool running) {
  if (!agent || agent != master_.load()) return;
  if (isMasterRunning() == running) return;
  setMasterRunning(running);
  reportEventAgentRunning(running);
}

uint32_t EvtAgentMgr::totalQueuedBytes() {
  if (!agents_) return 0;
  int64_t total = 0;
  for (int i = 0; i < poolSize_; i++) total += agents_[i]->queuedBytes();
  // The counters are approximate under contention; a negative sum must not
  // wrap into a huge figure that would close the memory gate.
  if (total < 0) total = 0;
  if (total > UINT32_MAX) total = UINT32_MAX;
  return static_cast<uint32_t>(total);
}

void EvtAgentMgr::reportMemory() {
  if (!memoryMonitor) return;
  uint32_t threads = threadMgr ? threadMgr->getThreadCount() : 0;
  uint32_t pending = networkAgentMgr ? networkAgentMgr->pendingBytesTotal() : 0;
  memoryMonitor->checkMemory(totalQueuedBytes(), threads, pending);
}
