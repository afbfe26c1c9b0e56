#include "publish/AppServerName.h"

#include <cstdio>

int getAppServerNameFromJava(char* buffer, int size, JNIEnv* env) {
  auto failed = [env]() {
    if (!env->ExceptionCheck()) return false;
    env->ExceptionDescribe();
    env->ExceptionClear();
    return true;
  };
  if (!env || !buffer || size <= 0) return 1;
  jclass cls = env->FindClass("com/halden/probe/ProbeSystem");
  if (failed() || !cls) return 1;
  jmethodID method = env->GetStaticMethodID(cls, "getAppServerName", "()Ljava/lang/String;");
  if (failed() || !method) {
    env->DeleteLocalRef(cls);
    return 1;
  }
  jstring name = static_cast<jstring>(env->CallStaticObjectMethod(cls, method));
  env->DeleteLocalRef(cls);
  if (failed()) return 1;
  if (!name) return 0;
  const char* chars = env->GetStringUTFChars(name, nullptr);
  if (failed() || !chars) {
    env->DeleteLocalRef(name);
    return 1;
  }
  std::snprintf(buffer, static_cast<size_t>(size), "%s", chars);
  env->ReleaseStringUTFChars(name, chars);
  env->DeleteLocalRef(name);
  return failed() ? 1 : 0;
}
