// What tests (and benchmarks) reach of an event agent beyond its interface:
// an agent attached without its loop thread. Included by tests only.
#pragma once

#include "publish/EventAgent.h"

struct EventAgentTestAccess {
  // Prepares the agent's per-thread state as its loop does, without running
  // the loop (tests drive the cycle's steps one by one, or only need an
  // agent that takes threads). A stop request then ends it at once.
  static void attach(EventAgent& agent, JNIEnv* env) {
    agent.attach(env);
    agent.attachedWithoutLoop_.store(true);
    agent.alive_.store(true);
    agent.running_.store(true);
  }
  // Lets go of the managed threads without deleting any: the test owns the
  // records it made.
  static void detach(EventAgent& agent) {
    agent.attachedWithoutLoop_.store(false);
    agent.running_.store(false);
    agent.alive_.store(false);
    agent.absorbNewThreads();
    agent.managed_.clear();
  }
};
