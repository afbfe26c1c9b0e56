// Natives of com.halden.qsportal.PortalUtils: the single portal records, the
// portal page and portlet requests, and the servlet depth. Each recording
// native passes the entry gate and hands over to PortalRequests.h.
#include <jni.h>

#include <cstdint>

#include "base/JniUtil.h"
#include "events/EventRecord.h"
#include "platform/EntryGuard.h"
#include "requests/PortalRequests.h"
#include "threads/EntryGate.h"

namespace {

void startPortal(JNIEnv* env, int type, jstring requestName, jstring applicationName, jstring url,
                 jstring detail) {
  ThreadData* data;
  if (!passEntryGate(env, &data)) return;
  JavaChars name(env, requestName);
  JavaChars application(env, applicationName);
  JavaChars address(env, url);
  JavaChars more(env, detail);
  startPortalRequest(env, data, type, name.get(), application.get(), address.get(), more.get());
}

void endPortal(JNIEnv* env, int type, jstring requestName) {
  ThreadData* data;
  if (!passEntryGate(env, &data)) return;
  JavaChars name(env, requestName);
  endPortalRequest(env, data, type, name.get());
}

void userData(JNIEnv* env, int type, jint number, jlong value) {
  ThreadData* data;
  if (passEntryGate(env, &data))
    sendPortalUserData(env, data, type, static_cast<uint32_t>(number), value);
}

void gatewayData(JNIEnv* env, int type, jint number, jlong value) {
  ThreadData* data;
  if (passEntryGate(env, &data))
    sendGatewayData(env, data, type, static_cast<uint32_t>(number), value);
}

}  // namespace

// A native of one (int, long) figure record.
#define DC_FIGURE_NATIVE(NAME, SEND, TYPE)                                                       \
  JNIEXPORT void JNICALL Java_com_halden_qsportal_PortalUtils_##NAME(JNIEnv* env, jclass,        \
                                                                     jint number, jlong value) { \
    guardedEntry(#NAME, [&]() { SEND(env, TYPE, number, value); });                              \
  }

extern "C" {

DC_FIGURE_NATIVE(sendLoginData, userData, EVENT_PORTAL_LOGIN)
DC_FIGURE_NATIVE(sendAccessControlData, userData, EVENT_PORTAL_ACCESS_CONTROL)
DC_FIGURE_NATIVE(sendGatewayServletData, gatewayData, EVENT_GATEWAY_SERVLET)
DC_FIGURE_NATIVE(sendModelBuildingData, gatewayData, EVENT_MODEL_BUILDING)
DC_FIGURE_NATIVE(sendPageLoadingData, gatewayData, EVENT_PAGE_LOADING)

JNIEXPORT void JNICALL Java_com_halden_qsportal_PortalUtils_sendCredentialVaultData(
    JNIEnv* env, jclass, jint c1, jlong t1, jint c2, jlong t2, jint c3, jlong t3, jint c4, jlong t4,
    jint c5, jlong t5) {
  guardedEntry("Java_com_halden_qsportal_PortalUtils_sendCredentialVaultData", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    const uint32_t counts[5] = {static_cast<uint32_t>(c1), static_cast<uint32_t>(c2),
                                static_cast<uint32_t>(c3), static_cast<uint32_t>(c4),
                                static_cast<uint32_t>(c5)};
    const int64_t totals[5] = {t1, t2, t3, t4, t5};
    sendCredentialVaultData(env, data, counts, totals);
  });
}

JNIEXPORT void JNICALL Java_com_halden_qsportal_PortalUtils_sendContentAccessData(
    JNIEnv* env, jclass, jint c1, jlong t1, jint c2, jlong t2, jint c3, jlong t3, jint c4,
    jlong t4) {
  guardedEntry("Java_com_halden_qsportal_PortalUtils_sendContentAccessData", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    const uint32_t counts[4] = {static_cast<uint32_t>(c1), static_cast<uint32_t>(c2),
                                static_cast<uint32_t>(c3), static_cast<uint32_t>(c4)};
    const int64_t totals[4] = {t1, t2, t3, t4};
    sendContentAccessData(env, data, counts, totals);
  });
}

JNIEXPORT void JNICALL Java_com_halden_qsportal_PortalUtils_startPortalPageRequest(
    JNIEnv* env, jclass, jstring requestName, jstring applicationName, jstring url,
    jstring detail) {
  guardedEntry("Java_com_halden_qsportal_PortalUtils_startPortalPageRequest", [&]() {
    startPortal(env, EVENT_PORTAL_PAGE, requestName, applicationName, url, detail);
  });
}

JNIEXPORT void JNICALL Java_com_halden_qsportal_PortalUtils_endPortalPageRequest(
    JNIEnv* env, jclass, jstring requestName) {
  guardedEntry("Java_com_halden_qsportal_PortalUtils_endPortalPageRequest",
               [&]() { endPortal(env, EVENT_PORTAL_PAGE, requestName); });
}

JNIEXPORT void JNICALL Java_com_halden_qsportal_PortalUtils_startPortletRequest(
    JNIEnv* env, jclass, jstring requestName, jstring applicationName, jstring url,
    jstring detail) {
  guardedEntry("Java_com_halden_qsportal_PortalUtils_startPortletRequest", [&]() {
    startPortal(env, EVENT_PORTLET, requestName, applicationName, url, detail);
  });
}

JNIEXPORT void JNICALL Java_com_halden_qsportal_PortalUtils_endPortletRequest(JNIEnv* env, jclass,
                                                                              jstring requestName) {
  guardedEntry("Java_com_halden_qsportal_PortalUtils_endPortletRequest",
               [&]() { endPortal(env, EVENT_PORTLET, requestName); });
}

JNIEXPORT jint JNICALL Java_com_halden_qsportal_PortalUtils_getServletDepth(JNIEnv* env, jclass) {
  return guardedEntry<jint>("Java_com_halden_qsportal_PortalUtils_getServletDepth",
                            [&]() -> jint { return getServletDepth(env); });
}

}  // extern "C"
