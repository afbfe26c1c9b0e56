#include "base/JniUtil.h"

#include <cstdio>

bool copyJavaString(JNIEnv* env, jstring text, char* out, int size) {
  if (!out || size <= 0) return false;
  out[0] = '\0';
  if (!env || !text) return false;
  const char* chars = env->GetStringUTFChars(text, nullptr);
  if (!chars) {
    clearPendingException(env);
    return false;
  }
  std::snprintf(out, static_cast<size_t>(size), "%s", chars);
  env->ReleaseStringUTFChars(text, chars);
  return true;
}
