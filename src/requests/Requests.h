// The request-boundary operations behind the natives of ThreadManager: HTTP
// requests (servlets and JSPs), EJB invocations, the trace request and the
// thread status. Each runs on the thread making the call, after its native
// has passed the entry gate (EntryGate.h) and fetched the Java strings, and
// touches only that thread's ThreadData (`data`, null when the thread has
// none). Null texts stand for null or unreadable Java strings; a text comes
// with its length when the caller knows it (the natives: the JVM measured
// it), and is measured here otherwise.
// Also theirs: threads/EntryGate.h, threads/TextLimits.h, RecordFill.h,
// NestedRequests.h, RequestCompletion.h and the natives in RequestNatives.cpp.
//
// Every begin raises the thread's requestDepth and every end lowers it; with
// nested suppression in force (NestedRequests.h) a begin inside an open
// request is only counted in suppressedNested, and its end only uncounts it.
#pragma once

#include <jni.h>

#include <cstdint>

#include "base/MeasuredText.h"

class ThreadData;

// Type 4 / 0, with the depth after the increment and the detail text whole.
void startNativeHttpRequest(JNIEnv* env, ThreadData* data, MeasuredText requestName,
                            MeasuredText applicationName, MeasuredText url, MeasuredText detail);
// Type 4 / 1 with empty texts. "JSP_CANCEL_REQUEST" closes every open level.
void finishNativeHttpRequest(JNIEnv* env, ThreadData* data, MeasuredText requestName);
// Type 4 / 2 with the three texts; never suppressed.
void errorNativeHttpRequest(JNIEnv* env, ThreadData* data, MeasuredText requestName,
                            MeasuredText applicationName, MeasuredText url);
// Type 5 / 0 and 5 / 1. The end record carries the depth before the decrement.
void beginNativeEJBRequest(JNIEnv* env, ThreadData* data, MeasuredText applicationName,
                           MeasuredText requestName, MeasuredText url);
void endNativeEJBRequest(JNIEnv* env, ThreadData* data, MeasuredText applicationName,
                         MeasuredText requestName, MeasuredText url);
// Type 6 / 7 named "system_trace" in "trace_app".
void issueTraceRequest(JNIEnv* env, ThreadData* data);

// Status changes sent by the Java side for any thread, by its thread id: 4
// marks it stopped, 0x2000 resumed, 0x8000 suspended. Unknown ids, dead
// records and other statuses change nothing; false then.
bool setThreadStatus(uint32_t threadId, int status);
