#include "publish/AppServerName.h"

#include <atomic>
#include <cstring>

#include "base/ModifiedUtf8.h"
#include "config/Identity.h"
#include "events/ProtocolVisitor.h"

namespace {

std::atomic<ProbeIdentitySource> probeSource{nullptr};

// Copies a text that may lack its terminator, cut at a whole character.
void copyText(char* out, size_t size, const char* in, size_t inSize) {
  size_t n = wholeCharacterLength(in, strnlen(in, inSize), size - 1);
  std::memcpy(out, in, n);
  out[n] = '\0';
}

}  // namespace

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
  copyText(buffer, static_cast<size_t>(size), chars, std::strlen(chars));
  env->ReleaseStringUTFChars(name, chars);
  env->DeleteLocalRef(name);
  return failed() ? 1 : 0;
}

void setProbeIdentitySource(ProbeIdentitySource source) {
  probeSource.store(source, std::memory_order_release);
}

void fillHelloIdentity(HelloIdentity* id, JNIEnv* env) {
  *id = HelloIdentity();
  copyText(id->nodeName, sizeof id->nodeName, nodeName, sizeof nodeName);
  copyText(id->appServerName, sizeof id->appServerName, serverName, sizeof serverName);
  if (env && getAppServerNameFromJava(id->appServerName, sizeof id->appServerName, env) != 0)
    copyText(id->appServerName, sizeof id->appServerName, serverName, sizeof serverName);
  if (ProbeIdentitySource source = probeSource.load(std::memory_order_acquire)) source(id);
}
