#include "publish/PsLookup.h"
#include "publish/PsLookupTestAccess.h"

#include <atomic>
#include <mutex>

#include "base/JniUtil.h"
#include "base/NamedObject.h"

namespace {

std::atomic<PsLookupFunction> lookupOverride{nullptr};

// The class reference is made global once and shared by all network agents
// for the life of the process.
std::mutex classMutex;
jclass lookupClass = nullptr;

jclass lookupClassRef(JNIEnv* env) {
  std::lock_guard<std::mutex> guard(classMutex);
  if (lookupClass) return lookupClass;
  jclass local = env->FindClass("com/halden/publish/pe_lookup");
  if (clearPendingException(env) || !local) return nullptr;
  lookupClass = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  return lookupClass;
}

PsLookupAnswer javaLookup(JNIEnv* env, PsAddress* out, const NamedObject& logger) {
  if (!env) return PsLookupAnswer::Failed;
  jclass cls = lookupClassRef(env);
  if (!cls) return PsLookupAnswer::Failed;
  jmethodID init = env->GetStaticMethodID(cls, "initialize", "()I");
  if (clearPendingException(env) || !init) return PsLookupAnswer::Failed;
  jint answer = env->CallStaticIntMethod(cls, init);
  if (clearPendingException(env)) return PsLookupAnswer::Failed;
  if (answer != 1) return PsLookupAnswer::NotFound;

  jfieldID hostField = env->GetStaticFieldID(cls, "hostName_", "Ljava/lang/String;");
  if (clearPendingException(env) || !hostField) {
    logger.logError("NetworkAgent", __LINE__,
                    "PS Lookup was successful but hostName field id was not found \n");
    return PsLookupAnswer::Failed;
  }
  jstring host = static_cast<jstring>(env->GetStaticObjectField(cls, hostField));
  if (clearPendingException(env) || !host) return PsLookupAnswer::Failed;
  const char* chars = env->GetStringUTFChars(host, nullptr);
  if (clearPendingException(env) || !chars) {
    env->DeleteLocalRef(host);
    return PsLookupAnswer::Failed;
  }
  out->host = chars;
  env->ReleaseStringUTFChars(host, chars);
  env->DeleteLocalRef(host);

  jfieldID portField = env->GetStaticFieldID(cls, "port_", "I");
  if (clearPendingException(env) || !portField) return PsLookupAnswer::Failed;
  out->port = env->GetStaticIntField(cls, portField);
  jfieldID bufferField = env->GetStaticFieldID(cls, "sendBuffSize_", "I");
  if (clearPendingException(env) || !bufferField) return PsLookupAnswer::Failed;
  out->sendBufferSize = env->GetStaticIntField(cls, bufferField);
  return PsLookupAnswer::Found;
}

}  // namespace

bool lookupPs(JNIEnv* env, int failureCount, PsAddress* out, const NamedObject& logger) {
  *out = PsAddress();
  PsAddress found;
  PsLookupFunction function = lookupOverride.load(std::memory_order_acquire);
  PsLookupAnswer answer = function ? function(env, &found) : javaLookup(env, &found, logger);
  if (answer == PsLookupAnswer::Found) {
    *out = found;
    return true;
  }
  if (answer == PsLookupAnswer::NotFound && failureCount < 6)
    logger.logInfo("NetworkAgent", __LINE__, "PSLookup not successful");
  return false;
}

void setPsLookupFunction(PsLookupFunction function) {
  lookupOverride.store(function, std::memory_order_release);
}
