// The network agent manager: owns the pool of network agents, binds each
// event agent to one of them for the life of the process, and is the event
// agents' only way to the collector.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/HalHashTable.h"
#include "base/NamedObject.h"
#include "publish/CallCount.h"
#include "publish/NetworkAgentData.h"
#include "publish/NetworkAgentOwner.h"

class EventAgent;
class NetworkAgent;
class ReconnectListener;

class NetworkAgentMgr : public NamedObject, public NetworkAgentOwner {
 public:
  // Reads the pool size; the agents are made at start.
  NetworkAgentMgr();
  ~NetworkAgentMgr() override;

  // The pool size the properties ask for ("networkagent.pool.size", at
  // least one).
  static int configuredPoolSize();

  void start();
  // Asks every agent to stop, waits in one-second rounds while any is alive,
  // then destroys the agents and the binding table.
  void stop();
  bool isStarted() const override { return started_.load(); }

  int getPoolSize() const { return poolSize_; }
  // Agent id, or null when the id is out of range or the pool is not made.
  NetworkAgent* agent(int id) const;

  // The natives startThread and stopThread.
  void runAgent(int id, JNIEnv* env);
  void stopAgent(int id);

  // Queues a packet on the network agent bound to the client.
  bool send(EventAgent* client, const uint8_t* bytes, uint32_t length,
            PacketKind kind = PacketKind::Data);
  // The same for a packet filled in `buffer`, which is taken over when the
  // packet is queued and stays with the caller otherwise.
  bool send(EventAgent* client, PacketBuffer& buffer, uint32_t length,
            PacketKind kind = PacketKind::Data);
  // True when started and the client's network agent is connected.
  bool isConnected(EventAgent* client);

  // Who hears of a lost connection (the event agent manager, installed by
  // agent/); null for nobody.
  void setReconnectListener(ReconnectListener* listener) { reconnectListener_.store(listener); }
  // A network agent dropped its connection: the event agents resend their
  // initial data once it is back.
  void connectionLost(NetworkAgent* agent) override;
  // True when the agent's connection is the one that carries the master
  // event agent's hello packet and class records.
  bool carriesOpening(NetworkAgent* agent) override;
  // Agent 0's running state is the probe's network-agent readiness.
  void agentStateChanged(NetworkAgent* agent, bool running) override;
  // Bytes waiting in all network agents' queues; 0 when not started.
  uint32_t pendingBytesTotal();

  // The network agent an event agent is bound to (binding it on first use).
  NetworkAgent* agentFor(EventAgent* client);

 private:
  // Counts the calls that use the agents, so that stop destroys them only
  // once none is left inside.

  int poolSize_;
  std::atomic<bool> started_{false};
  std::atomic<ReconnectListener*> reconnectListener_{nullptr};
  std::atomic<NetworkAgent*> firstAgent_{nullptr};
  std::unique_ptr<NetworkAgent*[]> agents_;
  std::unique_ptr<HalHashTable<EventAgent*, NetworkAgent*>> clientTable_;
  CallCount calls_;
  // The last network agent chosen for a new binding (round robin).
  std::atomic<int> lastChosen_{-1};
};

extern NetworkAgentMgr* networkAgentMgr;
