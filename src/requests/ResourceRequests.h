// The resource operations behind the natives of ProbeUtils, the statement
// classes and PSStatusThread: SQL statements, JCA, JMS, JNDI, Mail and MQ
// begin/end pairs, and the single MQ interface, gateway, exception and
// publishing-server status records. Each runs on the calling thread after its
// native has passed the entry gate and fetched the Java values; `data` is the
// thread's record or null (then nothing is recorded). Null texts stand for
// null or unreadable Java strings and become empty texts.
//
// Depths: a begin raises requestDepth and its record carries the new value;
// an end's record carries the current value, which is lowered afterwards if
// it is 1 or more. JCA, JMS, JNDI, Mail and MQ are recorded only inside a
// request (requestDepth above 0); SQL inside and outside. Nested suppression
// applies to SQL, JCA, JMS and JNDI.
#pragma once

#include <jni.h>

#include <cstdint>
#include <memory>

class ThreadData;

// SQL through the agent's own natives and the statement classes' aliases.
// The SQL text is cut to the SQL limit; the data source is copied whole.
void beginNativeSQLRequest(JNIEnv* env, ThreadData* data, const char* sql, const char* dataSource);
void endNativeSQLRequest(JNIEnv* env, ThreadData* data);
// SQL through the database driver's statement class: recorded only when no
// SQL request of the agent's own natives is open on the thread (sqlDepth 0),
// so a statement reported both ways yields one pair of records.
void beginOracleSQLRequest(JNIEnv* env, ThreadData* data, const char* sql, const char* dataSource);
void endOracleSQLRequest(JNIEnv* env, ThreadData* data);
// Remembers the statement's SQL text and data source; a null SQL text changes
// nothing.
void setSQL(ThreadData* data, const char* sql, const char* dataSource);

void beginNativeJCARequest(JNIEnv* env, ThreadData* data, const char* text);
void endNativeJCARequest(JNIEnv* env, ThreadData* data, const char* text);
// A kind other than 1 to 4 is recorded as 3.
void beginNativeJMSRequest(JNIEnv* env, ThreadData* data, int kind, const char* a, const char* b,
                           const char* c);
void endNativeJMSRequest(JNIEnv* env, ThreadData* data, int kind, const char* a, const char* b,
                         const char* c);
void beginNativeJNDIRequest(JNIEnv* env, ThreadData* data, const char* a, const char* b);
void endNativeJNDIRequest(JNIEnv* env, ThreadData* data, const char* a, const char* b);
void beginNativeMailRequest(JNIEnv* env, ThreadData* data, const char* a, const char* b);
void endNativeMailRequest(JNIEnv* env, ThreadData* data, const char* a, const char* b);
void beginNativeMQRequest(JNIEnv* env, ThreadData* data, const char* a, const char* b, int value);
// With content, the message is recorded (types 27 / 0 and 27 / 1) only when
// the MQ call is nested inside another request. `message` may be null when
// `length` is 0.
void endNativeMQRequest(JNIEnv* env, ThreadData* data, const char* a, const char* b, int value,
                        const uint8_t* message, int length, bool withContent);

// Whether the arrays of an MQ interface record can be taken: all three given,
// n above 0, the byte array exactly n long and the other two at least n long.
bool mqiArraysUsable(int opsLength, int valuesLength, int timesLength, int n);
// Queues the record with the arrays (each of n elements, owned from now on).
void sendNativeMQIRecord(JNIEnv* env, ThreadData* data, const char* a, const char* b, int64_t c,
                         std::unique_ptr<uint8_t[]> ops, std::unique_ptr<uint32_t[]> values,
                         std::unique_ptr<int64_t[]> times, int n);
void sendNativeGXRRecord(JNIEnv* env, ThreadData* data, const char* a, const char* b, const char* c,
                         int64_t d, int e, int64_t f);
void nativeSendException(JNIEnv* env, ThreadData* data, const char* a, const char* b, const char* c,
                         const char* d);
// Appended to the special queue of the first event agent, not to the calling
// thread's queue; nothing is recorded while that agent has none.
void sendStatusEvent(JNIEnv* env, const char* status);
