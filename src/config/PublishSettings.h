// What the publishing side reads from the property file, with its defaults
// and bounds: the cycles shared by the event agents, the network agents and
// the memory monitor, and each agent's own settings. A manager reads its
// agents' settings once when it starts and passes them to every agent. A
// cycle of 0 ms or less cannot be waited for (and divides other settings): it
// is taken as the default.
#pragma once

#include <string>

constexpr int kDefaultPublishingFrequencyMs = 2000;
constexpr int kDefaultNetworkFrequencyMs = 500;
constexpr int kDefaultPacketSizeKb = 5000;
// Larger packets than this would not be sent in one cycle anyway; the cap
// keeps the buffer size within 32 bits.
constexpr int kMaxPacketSizeKb = 1024 * 1024;

struct EventAgentSettings {
  // "internal.probe.event.queue.size.limit": the queue length the agent
  // trims its threads to.
  int queueLimit;
  // "internal.probe.publishing.frequency" (publishingFrequencyMs).
  int frequencyMs;
  // "internal.probe.event.packet.size": 1 to kMaxPacketSizeKb, else the
  // default (0 or less) or the cap.
  int packetSizeKb;
};
EventAgentSettings readEventAgentSettings();

struct NetworkAgentSettings {
  // "networkagent.socket.timeout" in seconds; -1 when unset.
  int socketTimeoutSec;
  // "networkagent.publish.frequency" (networkFrequencyMs).
  int frequencyMs;
  // "networkagent.buffer.limit": data packets an agent's queue holds.
  int bufferLimit;
  // "networkagent.socket.resettime" in ms; 0 or less for never.
  int socketResetMs;
  // "networkagent.socket.ip" and "networkagent.socket.port": the local
  // address to bind to, when the ip is set.
  bool bindLocal;
  std::string localIp;
  int localPort;
};
NetworkAgentSettings readNetworkAgentSettings();

// "internal.probe.publishing.frequency": the event agents' cycle.
int publishingFrequencyMs();
// "networkagent.publish.frequency": the network agents' cycle.
int networkFrequencyMs();

class HalLock;

// The timed wait between two cycles of an agent: a wait on the agent's raw
// monitor that nobody notifies (a plain sleep without the profiler
// interface); `agent` tells which agent waits. Tests step it one cycle at a
// time (PublishSettingsTestAccess.h).
void cycleWait(const void* agent, HalLock& monitor, int millis);
