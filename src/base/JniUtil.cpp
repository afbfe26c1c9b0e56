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

namespace {

// Class.isPrimitive() or Class.isArray() of a class object; true when the
// call fails.
bool classPredicate(JNIEnv* env, jclass cls, const char* name) {
  if (!env || !cls) return true;
  jclass classClass = env->GetObjectClass(cls);
  if (clearPendingException(env) || !classClass) return true;
  jmethodID method = env->GetMethodID(classClass, name, "()Z");
  bool answer = true;
  if (!clearPendingException(env) && method) {
    answer = env->CallBooleanMethod(cls, method) == JNI_TRUE;
    if (clearPendingException(env)) answer = true;
  }
  env->DeleteLocalRef(classClass);
  return answer;
}

}  // namespace

bool isPrimitiveClass(JNIEnv* env, jclass cls) {
  return classPredicate(env, cls, "isPrimitive");
}

bool isArrayClass(JNIEnv* env, jclass cls) {
  return classPredicate(env, cls, "isArray");
}
