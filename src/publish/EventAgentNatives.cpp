// Natives of com.halden.probe.event.EventAgent. The event agent manager is
// made by the start-up code; before it exists the count is the configured
// pool size and the agents' loops return at once.
#include <jni.h>

#include "platform/EntryGuard.h"
#include "publish/EvtAgentMgr.h"

extern "C" {

JNIEXPORT jint JNICALL Java_com_halden_probe_event_EventAgent_getEvtAgentCount(JNIEnv*, jclass) {
  return guardedEntry<jint>(
      "Java_com_halden_probe_event_EventAgent_getEvtAgentCount", [&]() -> jint {
        return evtAgentMgr ? evtAgentMgr->getPoolSize() : EvtAgentMgr::configuredPoolSize();
      });
}

// Runs agent id's loop on the calling Java thread; returns when it stops.
JNIEXPORT void JNICALL Java_com_halden_probe_event_EventAgent_startThread(JNIEnv* env, jclass,
                                                                          jint id) {
  guardedEntry("Java_com_halden_probe_event_EventAgent_startThread", [&]() {
    if (evtAgentMgr) evtAgentMgr->runAgent(id, env);
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_event_EventAgent_stopThread(JNIEnv*, jclass, jint id) {
  guardedEntry("Java_com_halden_probe_event_EventAgent_stopThread", [&]() {
    if (evtAgentMgr) evtAgentMgr->stopAgent(id);
  });
}

}  // extern "C"
