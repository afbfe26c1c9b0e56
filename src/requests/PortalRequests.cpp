#include "requests/PortalRequests.h"

#include <cstring>
#include <new>

#include "base/Log.h"
#include "events/PortalRecords.h"
#include "events/RequestRecord.h"
#include "requests/RequestCompletion.h"
#include "threads/ThreadData.h"
#include "threads/ThreadId.h"
#include "threads/ThreadMgr.h"

namespace {

// The single records carry no time stamps and no texts: the thread id and
// the Java side's figures only, with their type's fixed nominal size.
template <typename Record>
void queueSingle(JNIEnv* env, ThreadData* data, Record* record) {
  if (!record) return;
  record->threadId = threadIdOf(env);
  queueEvent(env, data, record);
}

template <typename Record>
void sendNumberValue(JNIEnv* env, ThreadData* data, int type, uint32_t number, int64_t value) {
  if (!data) return;
  Record* record = new (std::nothrow) Record(type, SUBTYPE_SINGLE);
  if (!record) return;
  record->number = number;
  record->value = value;
  queueSingle(env, data, record);
}

template <typename Record, int N>
void sendPairs(JNIEnv* env, ThreadData* data, const uint32_t counts[N], const int64_t totals[N]) {
  if (!data) return;
  Record* record = new (std::nothrow) Record(SUBTYPE_SINGLE);
  if (!record) return;
  for (int i = 0; i < N; i++) {
    record->counts[i] = counts[i];
    record->totals[i] = totals[i];
  }
  queueSingle(env, data, record);
}

RequestRecord* makePortalRecord(int type, int subtype) {
  if (type == EVENT_PORTAL_PAGE) return new (std::nothrow) PortalPageRequestRecord(subtype);
  return new (std::nothrow) PortletRequestRecord(subtype);
}

}  // namespace

void sendPortalUserData(JNIEnv* env, ThreadData* data, int type, uint32_t number, int64_t value) {
  sendNumberValue<PortalUserRecord>(env, data, type, number, value);
}

void sendGatewayData(JNIEnv* env, ThreadData* data, int type, uint32_t number, int64_t value) {
  sendNumberValue<GatewayRecord>(env, data, type, number, value);
}

void sendCredentialVaultData(JNIEnv* env, ThreadData* data, const uint32_t counts[5],
                             const int64_t totals[5]) {
  sendPairs<CredentialVaultRecord, 5>(env, data, counts, totals);
}

void sendContentAccessData(JNIEnv* env, ThreadData* data, const uint32_t counts[4],
                           const int64_t totals[4]) {
  sendPairs<ContentAccessRecord, 4>(env, data, counts, totals);
}

void startPortalRequest(JNIEnv* env, ThreadData* data, int type, const char* requestName,
                        const char* applicationName, const char* url, const char* detail) {
  if (data) data->requestDepth()++;
  RequestRecord* record = makePortalRecord(type, SUBTYPE_BEGIN);
  if (!record) return;
  record->depth = data ? data->requestDepth().load() : 0;
  const char* text = detail ? detail : "";
  record->placeText(record->detail, text, std::strlen(text));
  sendRequestRecord(env, data, record, requestName, applicationName, url);
}

void endPortalRequest(JNIEnv* env, ThreadData* data, int type, const char* requestName) {
  RequestRecord* record = makePortalRecord(type, SUBTYPE_END);
  if (record) {
    record->depth = data ? data->requestDepth().load() : 0;
    sendRequestRecord(env, data, record, requestName, nullptr, nullptr);
  }
  if (data) data->requestDepth()--;
}

int getServletDepth(JNIEnv* env) {
  ThreadData* data = threadMgr ? threadMgr->getThreadData(env) : nullptr;
  if (!data) {
    logMessage(LOG_WARNING, "Can't get thread data");
    return 0;
  }
  return data->requestDepth();
}
