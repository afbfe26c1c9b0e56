// The portal-server operations behind the natives of PortalUtils: single
// records of figures (logins, access control, the credential vault, content
// access, the gateway servlet, model building, page loading), and portal page
// and portlet requests. Each runs on the calling thread after its native has
// passed the entry gate; `data` is the thread's record or null (nothing is
// then queued).
//
// Portal pages and portlets nest without conditions: a start raises the
// thread's requestDepth and its record carries the new value; an end's record
// carries the depth before it is lowered, and the depth is lowered after the
// record has been queued, with no lower bound.
#pragma once

#include <jni.h>

#include <cstdint>

class ThreadData;

// Types 18 (login) and 19 (access control), subtype 7.
void sendPortalUserData(JNIEnv* env, ThreadData* data, int type, uint32_t number, int64_t value);
// Types 34 (gateway servlet), 35 (model building) and 36 (page loading).
void sendGatewayData(JNIEnv* env, ThreadData* data, int type, uint32_t number, int64_t value);
// Type 20: five pairs of a count and a total, in argument order.
void sendCredentialVaultData(JNIEnv* env, ThreadData* data, const uint32_t counts[5],
                             const int64_t totals[5]);
// Type 21: four such pairs.
void sendContentAccessData(JNIEnv* env, ThreadData* data, const uint32_t counts[4],
                           const int64_t totals[4]);

// Types 22 (portal page) and 23 (portlet): subtype 0 with the three texts and
// the detail text whole, subtype 1 with the request name only.
void startPortalRequest(JNIEnv* env, ThreadData* data, int type, const char* requestName,
                        const char* applicationName, const char* url, const char* detail);
void endPortalRequest(JNIEnv* env, ThreadData* data, int type, const char* requestName);

// The calling thread's requestDepth; its record is created when missing
// (no entry gate). 0 with the WARNING "Can't get thread data" when there is
// none.
int getServletDepth(JNIEnv* env);
