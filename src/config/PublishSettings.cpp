#include "config/PublishSettings.h"
#include "config/PublishSettingsTestAccess.h"

#include <atomic>

#include "base/HalLock.h"
#include "config/PropertyMgr.h"
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
