// The entry points the JVM calls when it loads the library: JVM_OnLoad for
// -Xrun, Agent_OnLoad for -agentpath/-agentlib. Both run the same start-up;
// the profiler interface comes from the JVMTI-backed provider where the JVM
// offers JVMTI.
#include <jni.h>

#include "agent/Lifecycle.h"
#include "platform/EntryGuard.h"

extern "C" {

JNIEXPORT jint JNICALL JVM_OnLoad(JavaVM* vm, char* options, void*) {
  return guardedEntry<jint>("JVM_OnLoad", [&]() -> jint { return runStartup(vm, options); });
}

JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM* vm, char* options, void*) {
  return guardedEntry<jint>("Agent_OnLoad", [&]() -> jint { return runStartup(vm, options); });
}

}  // extern "C"
