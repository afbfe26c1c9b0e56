// The bootstrap native through which the Java side has the natives of its
// runtime classes registered: registered on BcmBootstrap once, at JVM init
// done, and the registration it performs.
#pragma once

#include <jni.h>

// Registers defineNativeMethodsForClassNative on BcmBootstrap, once: a second
// call (or one while the first runs) does nothing, whatever the outcome.
void registerBootstrapNative(JNIEnv* env);

// Registers the natives of the runtime class named `name` (dotted) on
// `target`. False for an unknown name or a failed registration.
bool defineNativeMethodsForClass(JNIEnv* env, jclass target, const char* name);
