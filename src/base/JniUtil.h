// Small helpers for natives: they never raise Java exceptions and clear any
// that their own JNI calls left pending.
#pragma once

#include <jni.h>

// When a Java exception is pending: describe it, clear it and answer true.
inline bool clearPendingException(JNIEnv* env) {
  if (!env || !env->ExceptionCheck()) return false;
  env->ExceptionDescribe();
  env->ExceptionClear();
  return true;
}

// Copies a Java string's modified UTF-8 into out (cut to size - 1 bytes);
// false when the characters cannot be obtained (out is then empty).
bool copyJavaString(JNIEnv* env, jstring text, char* out, int size);
