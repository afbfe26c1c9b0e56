// Steps the publishing agents' loops one cycle at a time: installed as the
// agents' wait between cycles, it holds each agent in its wait until the test
// lets it through. Free-running mode lets every wait pass after a short sleep
// (used to let the loops end).
#pragma once

class CycleStepper {
 public:
  static void install();
  // Lets every agent run freely and removes the hook.
  static void uninstall();
  // Lets `agent` through one more wait and waits until it is held in the
  // next one (its cycle is done). False on time-out.
  static bool step(const void* agent, int timeoutMs = 5000);
  // Waits until `agent` is held in a wait.
  static bool waitUntilHeld(const void* agent, int timeoutMs = 5000);
  static void freeRun();
};
