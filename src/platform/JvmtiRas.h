// The reliability interface (ras.h) and the thread facts of the profiler
// interface (GetThreadObject, GetThreadStatus) on a current JVM, built on a
// JVMTI environment of their own.
//
// Every Java thread gets a 32-bit thread object id when it starts (or when a
// javacore first lists it). The environment's thread-start and thread-end
// events keep the pairing of each thread's JNIEnv with its thread object, so
// that the profiler interface's entries, which name a thread by its JNIEnv,
// reach it.
//
// The javacore files are named "javacore.YYYYMMDD.HHMMSS.<pid>.txt" from the
// local time and hold, for every live thread, a header line
//   "<name>" TID:0x<object id>, sys_thread_t:0x<object id>, state:<state>, prio=<n>
// followed by one line per frame
//   at <class in slash form>.<method>(<source file>:<line>)
// and an empty line. The file appears under its name complete: it is written
// under a hidden name and renamed.
#pragma once

#include <jni.h>

#include <cstdint>
#include <string>

#include "platform/jvmpi.h"
#include "platform/ras.h"

// Obtains the JVMTI environment and installs its events. A JVM that hands out
// no JVMTI in its current phase is asked again at the first use. Later calls
// do nothing.
void jvmtiRasInstall(JavaVM* vm);

// The reliability interface, or null when no JVMTI environment could be had.
RasInterface* jvmtiRasInterface();

// The thread object id of the thread whose JNIEnv is given; 0 when the thread
// is unknown (ended, or started before the environment existed and never
// seen since).
jobjectID jvmtiRasThreadObject(JNIEnv* env);

// The thread's state as the profiler interface gives it: JVMPI_THREAD_RUNNABLE,
// _MONITOR_WAIT (blocked entering a monitor), _CONDVAR_WAIT (waiting,
// parked or sleeping), or 0, with JVMPI_THREAD_SUSPENDED and
// JVMPI_THREAD_INTERRUPTED added; 0 for an unknown thread.
jint jvmtiRasThreadStatus(JNIEnv* env);

// Writes a javacore into the current directory; `complete` adds the header
// section. Returns the file name, or an empty string on failure. (The
// interface entries call it.)
std::string jvmtiRasWriteJavacore(JNIEnv* env, bool complete);

// The line forms of a javacore, appended to out. A double quote or a control
// character in the thread name is written as '?', so that the name ends at
// its closing quote and the line at its end. A line number below 0 is left
// out; a native method shows "Native Method" as its source.
void appendJavacoreHeader(std::string* out, const char* threadName, uint32_t objectId,
                          const char* state, int priority);
void appendJavacoreFrame(std::string* out, const char* classSlashName, const char* methodName,
                         const char* sourceFile, int line, bool nativeMethod);
