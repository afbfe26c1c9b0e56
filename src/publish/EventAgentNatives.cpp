// Natives of com.halden.probe.event.EventAgent. Each creates the event agent
// manager when there is none yet.
#include <jni.h>

#include "publish/EvtAgentMgr.h"

extern "C" {

JNIEXPORT jint JNICALL Java_com_halden_probe_event_EventAgent_getEvtAgentCount(JNIEnv*, jclass) {
  return EvtAgentMgr::instance()->getPoolSize();
}

// Runs agent id's loop on the calling Java thread; returns when it stops.
JNIEXPORT void JNICALL Java_com_halden_probe_event_EventAgent_startThread(JNIEnv* env, jclass,
                                                                          jint id) {
  EvtAgentMgr::instance()->runAgent(id, env);
}

JNIEXPORT void JNICALL Java_com_halden_probe_event_EventAgent_stopThread(JNIEnv*, jclass, jint id) {
  EvtAgentMgr::instance()->stopAgent(id);
}

}  // extern "C"
