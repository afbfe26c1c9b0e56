// What a network agent asks of the manager that owns its pool: whether the
// pool is started, where to report its loop's state and a lost connection,
// and whether its connection carries the opening packets. NetworkAgentMgr
// implements it; the agent knows nothing more of its manager.
#pragma once

class NetworkAgent;

class NetworkAgentOwner {
 public:
  virtual bool isStarted() const = 0;
  virtual void agentStateChanged(NetworkAgent* agent, bool running) = 0;
  virtual void connectionLost(NetworkAgent* agent) = 0;
  virtual bool carriesOpening(NetworkAgent* agent) = 0;

 protected:
  ~NetworkAgentOwner() = default;
};
