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
void lowerHttpDepth(ThreadData* data, const char* requestName) {
  if (requestName && std::strcmp(requestName, "JSP_CANCEL_REQUEST") == 0)
    data->requestDepth = 0;
  else
    data->requestDepth--;
}

// The calling thread's own arena, when it has a record.
RecordArena* arenaOf(ThreadData* data) {
  return data ? &data->ownArena : nullptr;
}

int depthOf(const ThreadData* data) {
  return data ? data->requestDepth.load() : 0;
}

}  // namespace

void startNativeHttpRequest(JNIEnv* env, ThreadData* data, const char* requestName,
                            const char* applicationName, const char* url, const char* detail) {
  if (data) {
    if (swallowNestedBegin(data)) return;
    data->requestDepth++;
  }
  const char* text = detail ? detail : "";
  HttpRequestRecord* record = RequestRecord::make<HttpRequestRecord>(
      arenaOf(data), requestTextBytes(requestName, applicationName, url, text), SUBTYPE_BEGIN);
  if (!record) return;
  record->depth = depthOf(data);
  record->placeText(record->detail, text, std::strlen(text));
  sendRequestRecord(env, data, record, requestName, applicationName, url);
}

void finishNativeHttpRequest(JNIEnv* env, ThreadData* data, const char* requestName) {
  if (data && data->requestDepth >= 1) {
    if (swallowNestedEnd(data)) return;
    lowerHttpDepth(data, requestName);
  }
  HttpRequestRecord* record = RequestRecord::make<HttpRequestRecord>(
      arenaOf(data), requestTextBytes(nullptr, nullptr, nullptr, nullptr), SUBTYPE_END);
  if (!record) return;
  record->depth = depthOf(data) + 1;
  sendRequestRecord(env, data, record, nullptr, nullptr, nullptr);
}

void errorNativeHttpRequest(JNIEnv* env, ThreadData* data, const char* requestName,
                            const char* applicationName, const char* url) {
  if (data && data->requestDepth >= 1) lowerHttpDepth(data, requestName);
  HttpRequestRecord* record = RequestRecord::make<HttpRequestRecord>(
      arenaOf(data), requestTextBytes(requestName, applicationName, url, nullptr), SUBTYPE_ERROR);
  if (!record) return;
  record->depth = depthOf(data) + 1;
  sendRequestRecord(env, data, record, requestName, applicationName, url);
}

void beginNativeEJBRequest(JNIEnv* env, ThreadData* data, const char* applicationName,
                           const char* requestName, const char* url) {
  if (data) {
    if (swallowNestedBegin(data)) return;
    data->requestDepth++;
  }
  EjbRequestRecord* record = RequestRecord::make<EjbRequestRecord>(
      arenaOf(data), requestTextBytes(requestName, applicationName, url, nullptr), SUBTYPE_BEGIN);
  if (!record) return;
  record->depth = depthOf(data);
  sendRequestRecord(env, data, record, requestName, applicationName, url);
}

void endNativeEJBRequest(JNIEnv* env, ThreadData* data, const char* applicationName,
                         const char* requestName, const char* url) {
  if (data && data->requestDepth >= 1 && swallowNestedEnd(data)) return;
  EjbRequestRecord* record = RequestRecord::make<EjbRequestRecord>(
      arenaOf(data), requestTextBytes(requestName, applicationName, url, nullptr), SUBTYPE_END);
  if (!record) return;
  record->depth = depthOf(data);
  if (data && data->requestDepth > 0) data->requestDepth--;
  sendRequestRecord(env, data, record, requestName, applicationName, url);
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
