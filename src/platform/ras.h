// The JVM's reliability interface ("RAS"), of which the library uses two
// entries to have the JVM write a javacore file into the current directory.
// A JVM that offers it hands it out through GetEnv with JAVA_RAS_VERSION; a
// current JVM has none, so the JVMTI-backed layer offers its own (see
// JvmtiRas.h), with the same two entries writing the same files.
//
// The entries sit at fixed positions of the structure: slots 14 and 16,
// counted in pointer-sized slots from its start.
#pragma once

#include <jni.h>

constexpr jint JAVA_RAS_VERSION = 0x7F000001;

// The second argument of DumpThreadStacks that asks for the threads' stacks.
constexpr int RAS_DUMP_THREAD_STACKS = 21;

struct RasInterface {
  void* reserved0_13[14];
  // Slot 14: writes a javacore file holding the threads' stacks.
  void(JNICALL* DumpThreadStacks)(JNIEnv* env, int what);
  void* reserved15;
  // Slot 16: writes a complete javacore file.
  void(JNICALL* GenerateJavacore)(JNIEnv* env);
};

// GetEnv for the reliability interface: the layer's own interface when it
// could be set up, otherwise whatever the JVM answers for the version.
jint rasGetEnv(JavaVM* vm, void** out, jint version);
