// Small helpers for natives: they never raise Java exceptions and clear any
// that their own JNI calls left pending.
#pragma once

#include <jni.h>

#include <cstring>

#include "base/MeasuredText.h"

// When a Java exception is pending: describe it, clear it and answer true.
inline bool clearPendingException(JNIEnv* env) {
  if (!env || !env->ExceptionCheck()) return false;
  env->ExceptionDescribe();
  env->ExceptionClear();
  return true;
}

// Clears a pending Java exception without describing it; true when one was
// pending. For a failure that is an expected answer (a hook asked for a
// static field the class does not have), which would otherwise print a
// stack trace on every call.
inline bool clearPendingExceptionQuietly(JNIEnv* env) {
  if (!env || !env->ExceptionCheck()) return false;
  env->ExceptionClear();
  return true;
}

// Whether a class object stands for a primitive type (int.class, void.class)
// or an array type. JNI's field lookups and RegisterNatives take neither: a
// primitive class is "not a class" to them, and the JVM may crash on it. Both
// answer true when the question cannot be put (a null class, a Java
// exception), so that a caller refuses what it cannot check.
bool isPrimitiveClass(JNIEnv* env, jclass cls);
bool isArrayClass(JNIEnv* env, jclass cls);

// Copies a Java string's modified UTF-8 into out (cut to size - 1 bytes);
// false when the characters cannot be obtained (out is then empty).
bool copyJavaString(JNIEnv* env, jstring text, char* out, int size);

// The modified-UTF-8 characters of a Java string, held for a scope. A null
// string, or one whose characters cannot be had, gives null; a failed fetch
// leaves no Java exception pending. A short string is copied into the
// object itself (no allocation by the JVM, nothing to release); a longer one
// is held through GetStringUTFChars.
class JavaChars {
 public:
  // Strings whose modified UTF-8 takes fewer bytes than this are copied.
  static constexpr int kInlineBytes = 256;

  JavaChars(JNIEnv* env, jstring text) : env_(env), text_(text) {
    if (!env_ || !text_) return;
    // On a valid string these calls raise nothing (the region is the whole
    // string), so the short path makes no exception check.
    jsize chars = env_->GetStringLength(text_);
    jsize bytes = env_->GetStringUTFLength(text_);
    if (bytes >= 0 && bytes < kInlineBytes) {
      env_->GetStringUTFRegion(text_, 0, chars, inline_);
      inline_[bytes] = '\0';
      chars_ = inline_;
      length_ = static_cast<size_t>(bytes);
      return;
    }
    held_ = env_->GetStringUTFChars(text_, nullptr);
    if (!held_) {
      clearPendingException(env_);
      return;
    }
    chars_ = held_;
    length_ = bytes >= 0 ? static_cast<size_t>(bytes) : std::strlen(held_);
  }
  ~JavaChars() {
    if (held_) env_->ReleaseStringUTFChars(text_, held_);
  }
  JavaChars(const JavaChars&) = delete;
  JavaChars& operator=(const JavaChars&) = delete;

  const char* get() const { return chars_; }
  // The bytes before the terminating zero; 0 when get() is null.
  size_t length() const { return length_; }
  MeasuredText text() const { return {chars_, length_}; }

 private:
  JNIEnv* env_;
  jstring text_;
  const char* chars_ = nullptr;
  const char* held_ = nullptr;
  size_t length_ = 0;
  char inline_[kInlineBytes];
};
