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

// The modified-UTF-8 characters of a Java string, held for a scope. A null
// string, or one whose characters cannot be had, gives null; a failed fetch
// leaves no Java exception pending.
class JavaChars {
 public:
  JavaChars(JNIEnv* env, jstring text) : env_(env), text_(text) {
    if (env_ && text_) {
      chars_ = env_->GetStringUTFChars(text_, nullptr);
      if (!chars_) clearPendingException(env_);
    }
  }
  ~JavaChars() {
    if (chars_) env_->ReleaseStringUTFChars(text_, chars_);
  }
  JavaChars(const JavaChars&) = delete;
  JavaChars& operator=(const JavaChars&) = delete;

  const char* get() const { return chars_; }

 private:
  JNIEnv* env_;
  jstring text_;
  const char* chars_ = nullptr;
};
