#include "profiler/BootstrapNatives.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "base/JniUtil.h"
#include "base/Log.h"
#include "platform/EntryGuard.h"
#include "profiler/AnalysisNatives.h"
#include "profiler/MethodLevelNatives.h"

namespace {

std::atomic<bool> registered{false};
std::atomic<bool> registering{false};

constexpr char kCannotRegister[] =
    "Can not register defineNativeMethodsForClassNative for "
    "com.halden.bcm.bootstrap.BcmBootstrap.class\n";

JNINativeMethod bcmRuntimeNatives[] = {
    {const_cast<char*>("appendL3Event"), const_cast<char*>("(BI)Z"),
     reinterpret_cast<void*>(&Java_com_halden_probe_l3trace_BcmRuntime_appendL3Event)},
    {const_cast<char*>("sendClassEventNative"),
     const_cast<char*>("(ILjava/lang/String;[I[Ljava/lang/String;[Ljava/lang/String;)Z"),
     reinterpret_cast<void*>(&Java_com_halden_probe_l3trace_BcmRuntime_sendClassEventNative)},
    {const_cast<char*>("sendClassUnloadEventNative"), const_cast<char*>("(ILjava/lang/String;[I)Z"),
     reinterpret_cast<void*>(&Java_com_halden_probe_l3trace_BcmRuntime_sendClassUnloadEventNative)},
};

JNINativeMethod heapNatives[] = {
    {const_cast<char*>("nativeHeapAllocationStart"), const_cast<char*>("(IILjava/lang/String;)V"),
     reinterpret_cast<void*>(
         &Java_com_halden_probe_heap_HeapAnalysisRuntime_nativeHeapAllocationStart)},
    {const_cast<char*>("nativeHeapAllocationEnd"), const_cast<char*>("(IILjava/lang/String;)V"),
     reinterpret_cast<void*>(
         &Java_com_halden_probe_heap_HeapAnalysisRuntime_nativeHeapAllocationEnd)},
};

JNINativeMethod lockNatives[] = {
    {const_cast<char*>("appendEvent"),
     const_cast<char*>("(BLjava/lang/String;IBLjava/lang/String;Ljava/lang/String;II)Z"),
     reinterpret_cast<void*>(&Java_com_halden_probe_lock_LockAnalysisRuntime_appendEvent)},
};

struct RuntimeClass {
  const char* name;
  JNINativeMethod* natives;
  jint count;
};

const RuntimeClass kRuntimeClasses[] = {
    {"com.halden.probe.l3trace.BcmRuntime", bcmRuntimeNatives, 3},
    {"com.halden.probe.heap.HeapAnalysisRuntime", heapNatives, 2},
    {"com.halden.probe.lock.LockAnalysisRuntime", lockNatives, 1},
};

void logLine(const char* format, const char* name) {
  char text[512];
  std::snprintf(text, sizeof text, format, name);
  logMessage(LOG_INFO, text);
}

}  // namespace

bool defineNativeMethodsForClass(JNIEnv* env, jclass target, const char* name) {
  if (!env || !target || !name) return false;
  // A primitive or array class cannot hold natives, and RegisterNatives
  // crashes the JVM on a primitive one: refused before it is called.
  if (isPrimitiveClass(env, target) || isArrayClass(env, target)) {
    logLine("Native methods registration for class %s failed.\n", name);
    return false;
  }
  bool ok = false;
  bool known = false;
  for (const RuntimeClass& runtime : kRuntimeClasses) {
    if (std::strcmp(runtime.name, name) != 0) continue;
    known = true;
    ok = env->RegisterNatives(target, runtime.natives, runtime.count) == JNI_OK;
    break;
  }
  if (!known) logLine("No native method registration for class %s\n", name);
  if (clearPendingException(env)) ok = false;
  logLine(ok ? "Successfully registered native methods for %s\n"
             : "Native methods registration for class %s failed.\n",
          name);
  return ok;
}

extern "C" JNIEXPORT void JNICALL
Java_com_halden_bcm_bootstrap_BcmBootstrap_defineNativeMethodsForClassNative(JNIEnv* env, jclass,
                                                                             jclass target,
                                                                             jstring name) {
  guardedEntry("defineNativeMethodsForClassNative", [&]() {
    if (!target || !name) return;
    JavaChars text(env, name);
    if (text.get()) defineNativeMethodsForClass(env, target, text.get());
  });
}

void registerBootstrapNative(JNIEnv* env) {
  if (registered.load() || registering.exchange(true)) return;
  if (!env) {
    logMessage(LOG_INFO, "Can not obtain JNIEnv pointer.\n");
    logMessage(LOG_INFO, kCannotRegister);
  } else {
    jclass bootstrap = env->FindClass("com/halden/bcm/bootstrap/BcmBootstrap");
    clearPendingException(env);
    if (!bootstrap) {
      logMessage(LOG_INFO, "Can not find com.halden.bcm.bootstrap.BcmBootstrap.class\n");
    } else {
      JNINativeMethod method = {
          const_cast<char*>("defineNativeMethodsForClassNative"),
          const_cast<char*>("(Ljava/lang/Class;Ljava/lang/String;)V"),
          reinterpret_cast<void*>(
              &Java_com_halden_bcm_bootstrap_BcmBootstrap_defineNativeMethodsForClassNative)};
      bool ok = env->RegisterNatives(bootstrap, &method, 1) == JNI_OK;
      if (clearPendingException(env)) ok = false;
      logMessage(LOG_INFO, ok ? "Successfully registered defineNativeMethodsForClassNative for "
                                "com.halden.bcm.bootstrap.BcmBootstrap.class\n"
                              : kCannotRegister);
      env->DeleteLocalRef(bootstrap);
    }
  }
  // No retry, whatever the outcome.
  registered.store(true);
  registering.store(false);
}
