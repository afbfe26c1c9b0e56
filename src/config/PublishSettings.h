// The publishing cycles read from the property file, shared by the event
// agents, the network agents and the memory monitor. A cycle of 0 ms or less
// cannot be waited for (and divides other settings): it is taken as the
// default.
#pragma once

constexpr int kDefaultPublishingFrequencyMs = 2000;
constexpr int kDefaultNetworkFrequencyMs = 500;

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
