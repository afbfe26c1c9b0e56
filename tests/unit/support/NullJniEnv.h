// A JNIEnv for in-process tests of code that runs on agent threads: every
// class lookup fails and no exception is ever pending, so code that calls
// into Java takes its fallback path. Each instance has its own address, which
// stands for one Java thread.
#pragma once

#include <jni.h>

class NullJniEnv {
 public:
  NullJniEnv();
  JNIEnv* env() { return &env_; }

 private:
  JNIEnv env_;
};
