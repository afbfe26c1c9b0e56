#include "support/CycleStepper.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "config/PublishSettings.h"
#include "config/PublishSettingsTestAccess.h"

namespace {

struct AgentState {
  int permits = 0;
  bool held = false;
};

std::mutex mutex;
std::condition_variable changed;
std::map<const void*, AgentState> agents;
bool freeRunning = false;

void hook(const void* agent, int) {
  std::unique_lock<std::mutex> lock(mutex);
  AgentState& state = agents[agent];
  if (!freeRunning && state.permits == 0) {
    state.held = true;
    changed.notify_all();
    changed.wait(lock, [&] { return freeRunning || state.permits > 0; });
    state.held = false;
  }
  if (state.permits > 0) state.permits--;
  bool sleep = freeRunning;
  lock.unlock();
  if (sleep) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

}  // namespace

void CycleStepper::install() {
  std::lock_guard<std::mutex> guard(mutex);
  agents.clear();
  freeRunning = false;
  setCycleWaitHook(hook);
}

void CycleStepper::freeRun() {
  std::lock_guard<std::mutex> guard(mutex);
  freeRunning = true;
  changed.notify_all();
}

void CycleStepper::uninstall() {
  freeRun();
  setCycleWaitHook(nullptr);
}

bool CycleStepper::waitUntilHeld(const void* agent, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    AgentState& state = agents[agent];
    return state.held && state.permits == 0;
  });
}

bool CycleStepper::step(const void* agent, int timeoutMs) {
  {
    std::lock_guard<std::mutex> guard(mutex);
    agents[agent].permits++;
    changed.notify_all();
  }
  return waitUntilHeld(agent, timeoutMs);
}
