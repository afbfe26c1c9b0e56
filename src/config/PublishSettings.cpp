#include "config/PublishSettings.h"
#include "config/PublishSettingsTestAccess.h"

#include <atomic>

#include "base/HalLock.h"
#include "config/PropertyMgr.h"
#include "config/ThreadSettings.h"
#include "platform/jvmpi.h"
#include "platform/os.h"

namespace {
int positiveOr(int value, int fallback) {
  return value > 0 ? value : fallback;
}
}  // namespace

int publishingFrequencyMs() {
  return positiveOr(
      getIntProperty("internal.probe.publishing.frequency", kDefaultPublishingFrequencyMs),
      kDefaultPublishingFrequencyMs);
}

int networkFrequencyMs() {
  return positiveOr(getIntProperty("networkagent.publish.frequency", kDefaultNetworkFrequencyMs),
                    kDefaultNetworkFrequencyMs);
}

EventAgentSettings readEventAgentSettings() {
  EventAgentSettings settings;
  settings.queueLimit = readEventQueueLimit();
  settings.frequencyMs = publishingFrequencyMs();
  int packetSizeKb = getIntProperty("internal.probe.event.packet.size", kDefaultPacketSizeKb);
  if (packetSizeKb <= 0) packetSizeKb = kDefaultPacketSizeKb;
  if (packetSizeKb > kMaxPacketSizeKb) packetSizeKb = kMaxPacketSizeKb;
  settings.packetSizeKb = packetSizeKb;
  return settings;
}

NetworkAgentSettings readNetworkAgentSettings() {
  NetworkAgentSettings settings;
  settings.socketTimeoutSec = getIntProperty("networkagent.socket.timeout", -1);
  settings.frequencyMs = networkFrequencyMs();
  settings.bufferLimit = getIntProperty("networkagent.buffer.limit", 10);
  settings.socketResetMs = getIntProperty("networkagent.socket.resettime", -1);
  const char* ip = getProperty("networkagent.socket.ip");
  settings.bindLocal = ip != nullptr;
  settings.localIp = ip ? ip : "";
  settings.localPort = ip ? getIntProperty("networkagent.socket.port", 0) : 0;
  return settings;
}

namespace {
std::atomic<CycleWaitHook> waitHook{nullptr};
}  // namespace

void setCycleWaitHook(CycleWaitHook hook) {
  waitHook.store(hook, std::memory_order_release);
}

void cycleWait(const void* agent, HalLock& monitor, int millis) {
  if (CycleWaitHook hook = waitHook.load(std::memory_order_acquire)) {
    hook(agent, millis);
  } else if (jvmpi) {
    monitor.sleep(millis);
  } else {
    os::sleepMillis(millis);
  }
}
