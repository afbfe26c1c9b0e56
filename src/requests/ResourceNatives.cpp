// Natives of the resource requests: com.halden.probe.ProbeUtils, the agent's
// statement classes in the connection-manager and JDBC-adapter packages, the
// database driver's statement class and com.halden.probe.PSStatusThread. Each
// passes the entry gate, fetches its Java values and hands over to the
// operations of ResourceRequests.h.
#include <jni.h>

#include <memory>
#include <new>

#include "base/JniUtil.h"
#include "platform/EntryGuard.h"
#include "requests/ResourceRequests.h"
#include "threads/EntryGate.h"
#include "threads/ThreadData.h"

namespace {

void sqlBegin(JNIEnv* env, jstring sql, jstring dataSource) {
  ThreadData* data;
  if (!passEntryGate(env, &data)) return;
  JavaChars text(env, sql);
  JavaChars source(env, dataSource);
  beginNativeSQLRequest(env, data, text.get(), source.get());
}

void sqlEnd(JNIEnv* env) {
  ThreadData* data;
  if (!passEntryGate(env, &data)) return;
  endNativeSQLRequest(env, data);
}

void statementSetSQL(JNIEnv* env, jstring sql, jstring dataSource) {
  ThreadData* data;
  if (!passEntryGate(env, &data) || !sql) return;
  JavaChars text(env, sql);
  JavaChars source(env, dataSource);
  // Characters that cannot be had give the empty text; an absent data
  // source stays absent.
  setSQL(data, text.get() ? text.get() : "", source.get());
}

// The length of a Java array, or -1 when it is null.
jsize lengthOf(JNIEnv* env, jarray array) {
  if (!array) return -1;
  jsize length = env->GetArrayLength(array);
  return clearPendingException(env) ? -1 : length;
}

}  // namespace

// The statement classes report SQL through the same operations as ProbeUtils.
#define DC_STATEMENT_SQL_NATIVES(CLASS)                                                    \
  JNIEXPORT void JNICALL Java_##CLASS##_beginSQLRequest(JNIEnv* env, jobject, jstring sql, \
                                                        jstring dataSource) {              \
    guardedEntry("beginSQLRequest", [&]() { sqlBegin(env, sql, dataSource); });            \
  }                                                                                        \
  JNIEXPORT void JNICALL Java_##CLASS##_endSQLRequest(JNIEnv* env, jobject, jint, jint) {  \
    guardedEntry("endSQLRequest", [&]() { sqlEnd(env); });                                 \
  }

#define DC_STATEMENT_SET_SQL(CLASS)                                               \
  JNIEXPORT void JNICALL Java_##CLASS##_setSQL(JNIEnv* env, jobject, jstring sql, \
                                               jstring dataSource) {              \
    guardedEntry("setSQL", [&]() { statementSetSQL(env, sql, dataSource); });     \
  }

extern "C" {

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_beginNativeSQLRequest(JNIEnv* env, jclass,
                                                                              jstring sql,
                                                                              jstring dataSource) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_beginNativeSQLRequest",
               [&]() { sqlBegin(env, sql, dataSource); });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_endNativeSQLRequest(JNIEnv* env, jclass,
                                                                            jint, jint) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_endNativeSQLRequest", [&]() { sqlEnd(env); });
}

DC_STATEMENT_SQL_NATIVES(com_qel_ejs_cm_proxy_HaldenStatementProxy)
DC_STATEMENT_SQL_NATIVES(com_qel_ejs_cm_proxy_HaldenPreparedStatementProxy)
DC_STATEMENT_SQL_NATIVES(com_qel_ejs_cm_proxy_HaldenCallableStatementProxy)
DC_STATEMENT_SQL_NATIVES(com_qel_qs_rsadapter_jdbc_HaldenStatement)
DC_STATEMENT_SQL_NATIVES(com_qel_qs_rsadapter_jdbc_HaldenPreparedStatement)
DC_STATEMENT_SQL_NATIVES(com_qel_qs_rsadapter_jdbc_HaldenCallableStatement)

DC_STATEMENT_SET_SQL(com_qel_ejs_cm_proxy_HaldenStatementProxy)
DC_STATEMENT_SET_SQL(com_qel_ejs_cm_proxy_HaldenPreparedStatementProxy)

JNIEXPORT void JNICALL Java_oracle_jdbc_driver_OracleStatement_beginSQLRequest(JNIEnv* env, jobject,
                                                                               jstring sql,
                                                                               jstring dataSource) {
  guardedEntry("Java_oracle_jdbc_driver_OracleStatement_beginSQLRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars text(env, sql);
    JavaChars source(env, dataSource);
    beginOracleSQLRequest(env, data, text.get(), source.get());
  });
}

JNIEXPORT void JNICALL Java_oracle_jdbc_driver_OracleStatement_endSQLRequest(JNIEnv* env, jobject,
                                                                             jint, jint) {
  guardedEntry("Java_oracle_jdbc_driver_OracleStatement_endSQLRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    endOracleSQLRequest(env, data);
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_beginNativeJCARequest(JNIEnv* env, jclass,
                                                                              jstring text, jint) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_beginNativeJCARequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars chars(env, text);
    beginNativeJCARequest(env, data, chars.get());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_endNativeJCARequest(JNIEnv* env, jclass,
                                                                            jstring text, jint) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_endNativeJCARequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars chars(env, text);
    endNativeJCARequest(env, data, chars.get());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_beginNativeJMSRequest(JNIEnv* env, jclass,
                                                                              jint kind, jstring a,
                                                                              jstring b,
                                                                              jstring c) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_beginNativeJMSRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars first(env, a), second(env, b), third(env, c);
    beginNativeJMSRequest(env, data, kind, first.get(), second.get(), third.get());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_endNativeJMSRequest(JNIEnv* env, jclass,
                                                                            jint kind, jstring a,
                                                                            jstring b, jstring c) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_endNativeJMSRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars first(env, a), second(env, b), third(env, c);
    endNativeJMSRequest(env, data, kind, first.get(), second.get(), third.get());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_beginNativeJNDIRequest(JNIEnv* env, jclass,
                                                                               jstring a,
                                                                               jstring b) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_beginNativeJNDIRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars first(env, a), second(env, b);
    beginNativeJNDIRequest(env, data, first.get(), second.get());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_endNativeJNDIRequest(JNIEnv* env, jclass,
                                                                             jstring a, jstring b) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_endNativeJNDIRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars first(env, a), second(env, b);
    endNativeJNDIRequest(env, data, first.get(), second.get());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_beginNativeMailRequest(JNIEnv* env, jclass,
                                                                               jstring a,
                                                                               jstring b) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_beginNativeMailRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars first(env, a), second(env, b);
    beginNativeMailRequest(env, data, first.get(), second.get());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_endNativeMailRequest(JNIEnv* env, jclass,
                                                                             jstring a, jstring b) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_endNativeMailRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars first(env, a), second(env, b);
    endNativeMailRequest(env, data, first.get(), second.get());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_beginNativeMQRequest(JNIEnv* env, jclass,
                                                                             jstring a, jstring b,
                                                                             jint value) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_beginNativeMQRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars first(env, a), second(env, b);
    beginNativeMQRequest(env, data, first.get(), second.get(), value);
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_endNativeMQRequest(JNIEnv* env, jclass,
                                                                           jstring a, jstring b,
                                                                           jint value,
                                                                           jbyteArray message,
                                                                           jboolean withContent) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_endNativeMQRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars first(env, a), second(env, b);
    std::unique_ptr<uint8_t[]> bytes;
    jsize length = 0;
    // The bytes are fetched only when they can be recorded: with content and
    // inside a request that stays open after this end.
    if (withContent && message && data && data->requestDepth() > 1) {
      length = lengthOf(env, message);
      if (length > 0) {
        bytes.reset(new (std::nothrow) uint8_t[static_cast<size_t>(length)]);
        if (bytes)
          env->GetByteArrayRegion(message, 0, length, reinterpret_cast<jbyte*>(bytes.get()));
        if (!bytes || clearPendingException(env)) length = 0;
      } else {
        length = 0;
      }
    }
    endNativeMQRequest(env, data, first.get(), second.get(), value, bytes.get(), length,
                       withContent == JNI_TRUE);
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_sendNativeMQIRecord(
    JNIEnv* env, jclass, jstring a, jstring b, jlong c, jbyteArray ops, jintArray values,
    jlongArray times, jint n) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_sendNativeMQIRecord", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    if (!mqiArraysUsable(lengthOf(env, ops), lengthOf(env, values), lengthOf(env, times), n))
      return;
    size_t count = static_cast<size_t>(n);
    std::unique_ptr<uint8_t[]> opsCopy(new (std::nothrow) uint8_t[count]);
    std::unique_ptr<uint32_t[]> valuesCopy(new (std::nothrow) uint32_t[count]);
    std::unique_ptr<int64_t[]> timesCopy(new (std::nothrow) int64_t[count]);
    if (!opsCopy || !valuesCopy || !timesCopy) return;
    env->GetByteArrayRegion(ops, 0, n, reinterpret_cast<jbyte*>(opsCopy.get()));
    env->GetIntArrayRegion(values, 0, n, reinterpret_cast<jint*>(valuesCopy.get()));
    env->GetLongArrayRegion(times, 0, n, reinterpret_cast<jlong*>(timesCopy.get()));
    if (clearPendingException(env)) return;
    JavaChars first(env, a), second(env, b);
    sendNativeMQIRecord(env, data, first.get(), second.get(), c, std::move(opsCopy),
                        std::move(valuesCopy), std::move(timesCopy), n);
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_sendNativeGXRRecord(JNIEnv* env, jclass,
                                                                            jstring a, jstring b,
                                                                            jstring c, jlong d,
                                                                            jint e, jlong f) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_sendNativeGXRRecord", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars first(env, a), second(env, b), third(env, c);
    sendNativeGXRRecord(env, data, first.get(), second.get(), third.get(), d, e, f);
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_nativeSendException(JNIEnv* env, jclass,
                                                                            jstring a, jstring b,
                                                                            jstring c, jstring d) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_nativeSendException", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars first(env, a), second(env, b), third(env, c), fourth(env, d);
    nativeSendException(env, data, first.get(), second.get(), third.get(), fourth.get());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_PSStatusThread_sendStatusEvent(JNIEnv* env, jobject,
                                                                            jstring status) {
  guardedEntry("Java_com_halden_probe_PSStatusThread_sendStatusEvent", [&]() {
    if (!passEntryGate(env, nullptr)) return;
    JavaChars text(env, status);
    sendStatusEvent(env, text.get());
  });
}

}  // extern "C"
