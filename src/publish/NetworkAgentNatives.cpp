// Natives of com.halden.probe.event.NetworkAgent and
// com.halden.network.NetworkAgent. Each creates the network agent manager
// when there is none yet.
#include <jni.h>

#include "publish/NetworkAgentMgr.h"

extern "C" {

JNIEXPORT jint JNICALL Java_com_halden_probe_event_NetworkAgent_getNetAgentCount(JNIEnv*, jclass) {
  return NetworkAgentMgr::instance()->getPoolSize();
}

// Runs agent id's loop on the calling Java thread; returns when it stops.
JNIEXPORT void JNICALL Java_com_halden_probe_event_NetworkAgent_startThread(JNIEnv* env, jclass,
                                                                            jint id) {
  NetworkAgentMgr::instance()->runAgent(id, env);
}

JNIEXPORT void JNICALL Java_com_halden_probe_event_NetworkAgent_stopThread(JNIEnv*, jclass,
                                                                           jint id) {
  NetworkAgentMgr::instance()->stopAgent(id);
}

// The Java network layer's set-up call; the native side needs none.
JNIEXPORT void JNICALL Java_com_halden_network_NetworkAgent_initCppSide(JNIEnv*, jclass) {}

}  // extern "C"
