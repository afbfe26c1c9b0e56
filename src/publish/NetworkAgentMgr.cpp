#include "publish/NetworkAgentMgr.h"

#include "base/HalLock.h"
#include "base/Log.h"
#include "config/ProbeState.h"
#include "config/PropertyMgr.h"
#include "platform/jvmpi.h"
#include "platform/os.h"
#include "publish/AgentPool.h"
#include "publish/NetworkAgent.h"
#include "publish/ReconnectListener.h"

NetworkAgentMgr* networkAgentMgr = nullptr;

NetworkAgentMgr::NetworkAgentMgr()
    : NamedObject("NetworkAgentMgr"), poolSize_(configuredPoolSize()) {}

int NetworkAgentMgr::configuredPoolSize() {
  return poolSizeProperty("networkagent.pool.size");
}

NetworkAgentMgr::~NetworkAgentMgr() {
  if (started_.load()) stop();
  if (networkAgentMgr == this) networkAgentMgr = nullptr;
}

void NetworkAgentMgr::start() {
  if (started_.load()) return;
  agents_.reset(new NetworkAgent*[poolSize_]);
  // Read once for the whole pool.
  const NetworkAgentSettings settings = readNetworkAgentSettings();
  for (int i = 0; i < poolSize_; i++) agents_[i] = new NetworkAgent(this, i, settings);
  clientTable_.reset(new HalHashTable<EventAgent*, NetworkAgent*>(11, false, true));
  firstAgent_.store(agents_[0]);
  started_.store(true);
  logInfo("NetworkAgentMgr", __LINE__, "NetworkAgentManager started..");
}

void NetworkAgentMgr::stop() {
  started_.store(false);
  if (!agents_) return;
  stopAgentsAndWait(agents_.get(), poolSize_, *this, "NetworkAgentMgr", "NetworkAgent");
  // Event agents may still be inside send or isConnected.
  calls_.waitUntilIdle();
  firstAgent_.store(nullptr);
  for (int i = 0; i < poolSize_; i++) delete agents_[i];
  agents_.reset();
  clientTable_.reset();
  logInfo("NetworkAgentMgr", __LINE__, "NetworkAgentManager stopped..");
}

NetworkAgent* NetworkAgentMgr::agent(int id) const {
  if (id < 0 || id >= poolSize_ || !agents_) return nullptr;
  return agents_[id];
}

void NetworkAgentMgr::runAgent(int id, JNIEnv* env) {
  if (agentIdInPool(*this, "NetworkAgentMgr", "start Network agent", id, poolSize_))
    runPoolAgent(calls_, started_, agents_.get(), id, env);
}

void NetworkAgentMgr::stopAgent(int id) {
  if (!agentIdInPool(*this, "NetworkAgentMgr", "stop network agent", id, poolSize_)) return;
  CallCount::Guard guard(calls_, started_);
  if (NetworkAgent* a = agent(id)) a->requestStop();
}

NetworkAgent* NetworkAgentMgr::agentFor(EventAgent* client) {
  if (!agents_) return nullptr;
  if (poolSize_ == 1) return agents_[0];
  NetworkAgent* bound = clientTable_->get(client);
  if (bound) return bound;
  // Round-robin over the pool: the first agent after the last one chosen.
  int last = lastChosen_.load();
  int next;
  do {
    next = (last + 1) % poolSize_;
    if (next < 0) next = 0;
  } while (!lastChosen_.compare_exchange_weak(last, next));
  bound = agents_[next];
  clientTable_->put(client, bound);
  return bound;
}

bool NetworkAgentMgr::send(EventAgent* client, const uint8_t* bytes, uint32_t length,
                           PacketKind kind) {
  CallCount::Guard guard(calls_, started_);
  if (!guard.started()) return false;
  NetworkAgent* a = agentFor(client);
  return a && a->send(bytes, length, kind);
}

bool NetworkAgentMgr::send(EventAgent* client, PacketBuffer& buffer, uint32_t length,
                           PacketKind kind) {
  CallCount::Guard guard(calls_, started_);
  if (!guard.started()) return false;
  NetworkAgent* a = agentFor(client);
  return a && a->send(buffer, length, kind);
}

bool NetworkAgentMgr::isConnected(EventAgent* client) {
  CallCount::Guard guard(calls_, started_);
  if (!guard.started()) return false;
  NetworkAgent* a = agentFor(client);
  return a && a->isConnected();
}

void NetworkAgentMgr::connectionLost(NetworkAgent*) {
  if (ReconnectListener* listener = reconnectListener_.load()) listener->resendInitData();
}

bool NetworkAgentMgr::carriesOpening(NetworkAgent* agent) {
  ReconnectListener* listener = reconnectListener_.load();
  EventAgent* master = listener ? listener->master() : nullptr;
  if (!master || !agents_) return false;
  // Looked up, not bound: a master that never sent is bound by its hello.
  NetworkAgent* bound = poolSize_ == 1 ? agents_[0] : clientTable_->get(master);
  return bound == agent;
}

void NetworkAgentMgr::agentStateChanged(NetworkAgent* agent, bool running) {
  if (agent && agent == firstAgent_.load()) reportNetworkAgentRunning(running);
}

uint32_t NetworkAgentMgr::pendingBytesTotal() {
  CallCount::Guard guard(calls_, started_);
  if (!guard.started()) return 0;
  int64_t total = 0;
  for (int i = 0; i < poolSize_; i++) total += agents_[i]->pendingBytes();
  return total > 0 ? static_cast<uint32_t>(total) : 0;
}
