#include "requests/RequestCompletion.h"

#include <cstring>

#include "base/JniUtil.h"
#include "base/Log.h"
#include "requests/RecordFill.h"
#include "threads/TextLimits.h"
#include "threads/ThreadData.h"
#include "threads/ThreadId.h"

namespace {

// A copy cut to the limit, in the record's spare bytes when they hold it.
// Returns the bytes kept including the zero.
size_t placeCutText(RequestRecord* record, OwnedText& field, const char* text, int limit) {
  size_t length = cutTextLength(text, limit);
  record->placeText(field, text, length);
  return length + 1;
}

// A null text becomes the empty text, unless the record's step already
// filled the field.
void fillText(RequestRecord* record, OwnedText& field, const char* text, int limit,
              const char* nullNote) {
  if (text) {
    placeCutText(record, field, text, limit);
    return;
  }
  logCatalogArgs(LOG_DEBUG, "PROBE_DEBUG", nullNote);
  if (!field.present()) record->placeText(field, "", 0);
}

size_t spareFor(const char* text, int limit) {
  return text ? cutTextLength(text, limit) + 1 : 1;
}

}  // namespace

void sendRequestRecord(JNIEnv* env, ThreadData* data, RequestRecord* record,
                       const char* requestName, const char* applicationName, const char* url,
                       RequestStep step) {
  if (!record) return;
  if (!data) {
    logMessage(LOG_WARNING, "Internal Error: storage is NULL for Thread");
    delete record;
    return;
  }
  record->threadId = threadIdOf(env);
  record->requestName.release();
  record->applicationName.release();
  record->url.release();
  if (record->subtype == SUBTYPE_BEGIN)
    stampBegin(record);
  else
    stampEnd(record);
  if (step && !step(env, data, record)) {
    delete record;
    return;
  }
  int limit = urlLimit();
  fillText(record, record->requestName, requestName, limit, "request name = null");
  fillText(record, record->applicationName, applicationName, limit, "application name = null");
  if (url) {
    size_t kept = placeCutText(record, record->url, url, limit);
    sampleUrlSize(kept);
  } else {
    fillText(record, record->url, nullptr, limit, "url = null");
  }
  if (!record->detail.present()) record->placeText(record->detail, "", 0);
  record->nominalSize = nominalSizeOf(size_t{urlSizeEstimate()} + 72);
  queueEvent(env, data, record);
  // The correlation token lives exactly as long as the outermost request.
  if (data->requestDepth == 0 && data->gpsToken) data->releaseGpsToken();
}

size_t requestTextBytes(const char* requestName, const char* applicationName, const char* url,
                        const char* detail) {
  int limit = urlLimit();
  return spareFor(requestName, limit) + spareFor(applicationName, limit) + spareFor(url, limit) +
         (detail ? std::strlen(detail) : 0) + 1;
}

void sendRequestRecordFromJava(JNIEnv* env, ThreadData* data, RequestRecord* record,
                               jstring requestName, jstring applicationName, jstring url,
                               RequestStep step) {
  JavaChars name(env, requestName);
  JavaChars application(env, applicationName);
  JavaChars address(env, url);
  sendRequestRecord(env, data, record, name.get(), application.get(), address.get(), step);
}
