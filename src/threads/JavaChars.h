// The modified-UTF-8 characters of a Java string, held for a scope. A null
// string, or one whose characters cannot be had, gives null; a failed fetch
// leaves no Java exception pending.
#pragma once

#include <jni.h>

class JavaChars {
 public:
  JavaChars(JNIEnv* env, jstring text) : env_(env), text_(text) {
    if (env_ && text_) {
      chars_ = env_->GetStringUTFChars(text_, nullptr);
      if (!chars_ && env_->ExceptionCheck()) {
        env_->ExceptionDescribe();
        env_->ExceptionClear();
      }
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
