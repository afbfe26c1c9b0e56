// Classes and methods for the JVMTI-backed profiler table: the 32-bit ids of
// classes and methods, and the class-load event synthesised on request.
//
// Ids: a class gets the next class id the first time it is named (kept with a
// weak reference to the class), a method the next method id (kept with its
// jmethodID). Neither is ever handed out again, so an id is stable for the
// life of its class and unique among live ones. Method ids step by 8, so
// that the method table, which hashes id >> 3, spreads them over its buckets.
//
// Class unloading is not signalled: the provider raises no class-unload
// event (the agent's tables keep an unloaded class's entry; the Java side
// reports unloads through its own natives).
#pragma once

#include <jni.h>
#include <jvmti.h>

#include "platform/jvmpi.h"

// The id of a class (given one now if it has none); 0 when no weak reference
// can be made.
jobjectID jvmtiClassIdOf(JNIEnv* jni, jclass cls);
// The id of a method (given one now if it has none).
jmethodIDp jvmtiMethodIdOf(jmethodID method);

// RequestEvent for a class load: delivers a class-load event (marked as
// requested) for the class with this id, with its name in slash form and its
// methods' ids, names and signatures. JVMPI_NOT_AVAILABLE for an unknown or
// unloaded class or when JVMTI refuses.
jint jvmtiRequestClassLoad(jvmtiEnv* jvmti, JNIEnv* jni, jobjectID classId,
                           void (*deliver)(JVMPI_Event*));

// GetMethodClass: the class id of the method's declaring class; 0 when the
// method id is unknown.
jobjectID jvmtiMethodClass(jvmtiEnv* jvmti, JNIEnv* jni, jmethodIDp methodId);
