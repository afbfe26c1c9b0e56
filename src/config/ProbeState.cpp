#include "config/ProbeState.h"
#include "config/ProbeStateTestAccess.h"

#include "base/Log.h"
#include "config/L3Switch.h"
#include "platform/jvmpi.h"
#include "platform/os.h"

std::atomic<bool> probeDisabled{true};
std::atomic<int> modLevel{2};
std::atomic<int> reportedModLevel{2};
std::atomic<int> samplingRates[4] = {{2}, {2}, {2}, {2}};
std::atomic<int> samplingExtra{0};

jclass objectClassRef = nullptr;
jclass classClassRef = nullptr;
jclass stringClassRef = nullptr;

namespace {
std::atomic<bool> eventAgentRunning{false};
std::atomic<bool> networkAgentRunning{false};
}  // namespace

int cachedProcessId() {
  static const int pid = os::processId();
  return pid;
}

bool changeModLevel(int requested) {
  int level = requested > 1000 ? requested - 1000 : requested;
  int current = modLevel.load(std::memory_order_relaxed);
  if (level == current) {
    logMessage(LOG_INFO, "Current Native MOD level is same as new level");
    return false;
  }
  char text[200];
  if (level < 1 || level > 3) {
    formatText(text, sizeof text, "Incorrect MOD level given (%d) rejecting, current MOD level %d",
               level, current);
    logMessage(LOG_ERROR, text);
    return false;
  }
  modLevel.store(level, std::memory_order_relaxed);
  if (current == 3 || level == 3) runL3Switch();
  formatText(text, sizeof text, "Native MOD level changed from (%d) to (%d)", current, level);
  logMessage(LOG_INFO, text);
  reportedModLevel.store(level, std::memory_order_relaxed);
  return true;
}

namespace {
// Stores a readiness bit; the probe is enabled the moment both bits are true.
// A report of false only stores the bit.
void report(std::atomic<bool>& bit, const std::atomic<bool>& other, bool running) {
  if (bit.load() == running) return;
  bit.store(running);
  if (running && other.load()) probeDisabled.store(false);
}
}  // namespace

void reportEventAgentRunning(bool running) {
  report(eventAgentRunning, networkAgentRunning, running);
}

void reportNetworkAgentRunning(bool running) {
  report(networkAgentRunning, eventAgentRunning, running);
}

void resetProbeState() {
  probeDisabled.store(true);
  modLevel.store(2);
  reportedModLevel.store(2);
  eventAgentRunning.store(false);
  networkAgentRunning.store(false);
  for (auto& rate : samplingRates) rate.store(2);
  samplingExtra.store(0);
}
