// Natives of com.halden.probe.event.NetworkAgent and
// com.halden.network.NetworkAgent. The network agent manager is made by the
// start-up code; before it exists the count is the configured pool size and
// the agents' loops return at once.
#include <jni.h>

#include "platform/EntryGuard.h"
#include "publish/NetworkAgentMgr.h"

extern "C" {

JNIEXPORT jint JNICALL Java_com_halden_probe_event_NetworkAgent_getNetAgentCount(JNIEnv*, jclass) {
  return guardedEntry<jint>("Java_com_halden_probe_event_NetworkAgent_getNetAgentCount",
                            [&]() -> jint {
                              return networkAgentMgr ? networkAgentMgr->getPoolSize()
                                                     : NetworkAgentMgr::configuredPoolSize();
                            });
}

// Runs agent id's loop on the calling Java thread; returns when it stops.
JNIEXPORT void JNICALL Java_com_halden_probe_event_NetworkAgent_startThread(JNIEnv* env, jclass,
                                                                            jint id) {
  guardedEntry("Java_com_halden_probe_event_NetworkAgent_startThread", [&]() {
    if (networkAgentMgr) networkAgentMgr->runAgent(id, env);
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_event_NetworkAgent_stopThread(JNIEnv*, jclass,
                                                                           jint id) {
  guardedEntry("Java_com_halden_probe_event_NetworkAgent_stopThread", [&]() {
    if (networkAgentMgr) networkAgentMgr->stopAgent(id);
  });
}

// The Java network layer's set-up call; the native side needs none.
JNIEXPORT void JNICALL Java_com_halden_network_NetworkAgent_initCppSide(JNIEnv*, jclass) {
  guardedEntry("Java_com_halden_network_NetworkAgent_initCppSide", [&]() {});
}

}  // extern "C"
