#include "requests/Requests.h"

#include <cstring>
#include <new>

#include "events/RequestRecord.h"
#include "requests/NestedRequests.h"
#include "requests/RequestCompletion.h"
#include "threads/ThreadData.h"
#include "threads/ThreadMgr.h"

namespace {

// Lowers the depth of an HTTP finish or error: a cancelled JSP closes every
// open level at once.
void lowerHttpDepth(ThreadData* data, MeasuredText requestName) {
  static constexpr char kCancel[] = "JSP_CANCEL_REQUEST";
  if (requestName.chars && requestName.length == sizeof kCancel - 1 &&
      std::memcmp(requestName.chars, kCancel, sizeof kCancel - 1) == 0)
    data->requestDepth() = 0;
  else
    data->requestDepth()--;
}

// A record of class R with room for the texts, made in the calling
// thread's own arena when it has a ThreadData; null when memory could not be
// had.
template <class R>
R* makeRecord(ThreadData* data, const RequestTexts& texts, int subtype) {
  return RequestRecord::make<R>(data ? &data->arena() : nullptr, texts.spareBytes(), subtype);
}

int depthOf(const ThreadData* data) {
  return data ? data->requestDepth().load() : 0;
}

}  // namespace

void startNativeHttpRequest(JNIEnv* env, ThreadData* data, MeasuredText requestName,
                            MeasuredText applicationName, MeasuredText url, MeasuredText detail) {
  if (data) {
    if (swallowNestedBegin(data)) return;
    data->requestDepth()++;
  }
  RequestTexts texts(requestName, applicationName, url,
                     detail.chars ? detail : MeasuredText("", 0));
  auto* record = makeRecord<HttpRequestRecord>(data, texts, SUBTYPE_BEGIN);
  if (!record) return;
  record->depth = depthOf(data);
  sendRequestRecord(env, data, record, texts);
}

void finishNativeHttpRequest(JNIEnv* env, ThreadData* data, MeasuredText requestName) {
  if (data && data->requestDepth() >= 1) {
    if (swallowNestedEnd(data)) return;
    lowerHttpDepth(data, requestName);
  }
  RequestTexts texts(nullptr, nullptr, nullptr);
  auto* record = makeRecord<HttpRequestRecord>(data, texts, SUBTYPE_END);
  if (!record) return;
  record->depth = depthOf(data) + 1;
  sendRequestRecord(env, data, record, texts);
}

void errorNativeHttpRequest(JNIEnv* env, ThreadData* data, MeasuredText requestName,
                            MeasuredText applicationName, MeasuredText url) {
  if (data && data->requestDepth() >= 1) lowerHttpDepth(data, requestName);
  RequestTexts texts(requestName, applicationName, url);
  auto* record = makeRecord<HttpRequestRecord>(data, texts, SUBTYPE_ERROR);
  if (!record) return;
  record->depth = depthOf(data) + 1;
  sendRequestRecord(env, data, record, texts);
}

void beginNativeEJBRequest(JNIEnv* env, ThreadData* data, MeasuredText applicationName,
                           MeasuredText requestName, MeasuredText url) {
  if (data) {
    if (swallowNestedBegin(data)) return;
    data->requestDepth()++;
  }
  RequestTexts texts(requestName, applicationName, url);
  auto* record = makeRecord<EjbRequestRecord>(data, texts, SUBTYPE_BEGIN);
  if (!record) return;
  record->depth = depthOf(data);
  sendRequestRecord(env, data, record, texts);
}

void endNativeEJBRequest(JNIEnv* env, ThreadData* data, MeasuredText applicationName,
                         MeasuredText requestName, MeasuredText url) {
  if (data && data->requestDepth() >= 1 && swallowNestedEnd(data)) return;
  RequestTexts texts(requestName, applicationName, url);
  auto* record = makeRecord<EjbRequestRecord>(data, texts, SUBTYPE_END);
  if (!record) return;
  record->depth = depthOf(data);
  if (data && data->requestDepth() > 0) data->requestDepth()--;
  sendRequestRecord(env, data, record, texts);
}

void issueTraceRequest(JNIEnv* env, ThreadData* data) {
  TraceRequestRecord* record = new (std::nothrow) TraceRequestRecord(SUBTYPE_SINGLE);
  if (!record) return;
  sendRequestRecord(env, data, record, "system_trace", "trace_app", "");
}

bool setThreadStatus(uint32_t threadId, int status) {
  if (!threadMgr) return false;
  bool changed = false;
  // The change is made under the bucket lock, so the record cannot leave the
  // table and be deleted meanwhile.
  threadMgr->withThreadData(threadId, [&](ThreadData* data) {
    if (!data->isAlive()) return;
    switch (status) {
      case 4:
        data->setStopped(true);
        data->setSuspended(false);
        changed = true;
        break;
      case 0x2000:
        data->setSuspended(false);
        changed = true;
        break;
      case 0x8000:
        data->setSuspended(true);
        changed = true;
        break;
      default:
        break;
    }
  });
  return changed;
}
