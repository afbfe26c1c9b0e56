// The correlation-token operations behind the natives of ProbeUtils and
// CommandAgent. An outgoing call (an invoke) and the incoming call it causes
// in another monitored JVM (a receive) carry one token. The calling thread
// draws a token at its first invoke and keeps it for the rest of its outermost
// request; a receiving thread takes over the token it was sent. Each operation
// runs on the calling thread after its native has passed the entry gate;
// `data` is the thread's record or null (nothing is then queued). No nested
// suppression applies.
#pragma once

#include <jni.h>

#include <cstdint>

class ThreadData;

// Type 14 / 0 with the depth after the increment. The record carries the
// thread's token: drawn now when the thread holds none (the record then also
// carries its number for the counter file), else the token it already holds.
void startNativeGpsInvokeRequest(JNIEnv* env, ThreadData* data);
// Type 14 / 1 with the depth after the decrement plus 1 (no lower bound).
void endNativeGpsInvokeRequest(JNIEnv* env, ThreadData* data);
// Raises the depth; type 14 / 5 with depth 0 whose token field holds the
// received text (cut as a request name). The thread's token becomes the
// text's bytes. A text of exactly eight hex digits is the written form of a
// 4-byte token (as one JVM's Java side sends it to another): the thread and
// the record then hold those 4 bytes. A null token queues nothing.
void startNativeGpsReceiveRequest(JNIEnv* env, ThreadData* data, const char* token);
// Type 14 / 6 with the depth after the decrement plus 1; the text fills the
// first field.
void completeNativeGpsReceiveRequest(JNIEnv* env, ThreadData* data, const char* text);

// The calling thread's token for the Java side: its first 4 bytes (fewer
// when a shorter token was received; the rest stays 0) into `out`, found
// without creating the thread's record. False when the thread has no alive
// record.
bool copyGpsToken(JNIEnv* env, uint8_t out[4]);
