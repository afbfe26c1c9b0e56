#include "requests/RequestCompletion.h"

#include <cstring>

#include "base/JniUtil.h"
#include "base/Log.h"
#include "requests/RecordFill.h"
#include "threads/TextLimits.h"
#include "threads/ThreadData.h"
#include "threads/ThreadMgr.h"

namespace {

// The text of `texts` at `index` copied into the field; a null text becomes
// the empty text, unless the record's step already filled the field.
void fillText(RequestRecord* record, OwnedText& field, const RequestTexts& texts, int index,
              const char* nullNote) {
  if (texts.text[index]) {
    record->placeText(field, texts.text[index], texts.length[index]);
    return;
  }
  logCatalogArgs(LOG_DEBUG, "PROBE_DEBUG", nullNote);
  if (!field.present()) record->placeText(field, "", 0);
}

}  // namespace

RequestTexts::RequestTexts(MeasuredText requestName, MeasuredText applicationName,
                           MeasuredText url, MeasuredText detail)
    : text{requestName.chars, applicationName.chars, url.chars},
      length{},
      detail(detail.chars),
      detailLength(detail.length) {
  int limit = urlLimit();
  const size_t whole[3] = {requestName.length, applicationName.length, url.length};
  for (int i = 0; i < 3; i++)
    if (text[i]) length[i] = cutTextLength(text[i], whole[i], limit);
}

size_t RequestTexts::spareBytes() const {
  return length[0] + length[1] + length[2] + detailLength + 4;
}

void sendRequestRecord(JNIEnv* env, ThreadData* data, RequestRecord* record,
                       const char* requestName, const char* applicationName, const char* url,
                       RequestStep step) {
  sendRequestRecord(env, data, record, RequestTexts(requestName, applicationName, url), step);
}

void sendRequestRecord(JNIEnv* env, ThreadData* data, RequestRecord* record,
                       const RequestTexts& texts, RequestStep step) {
  if (!record) return;
  if (!data) {
    logMessage(LOG_WARNING, "Internal Error: storage is NULL for Thread");
    delete record;
    return;
  }
  // The calling thread's record carries its id: no second lookup.
  record->threadId = data->getThreadId();
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
  fillText(record, record->requestName, texts, 0, "request name = null");
  fillText(record, record->applicationName, texts, 1, "application name = null");
  fillText(record, record->url, texts, 2, "url = null");
  if (texts.text[2]) sampleUrlSize(texts.length[2] + 1);
  if (texts.detail)
    record->placeText(record->detail, texts.detail, texts.detailLength);
  else if (!record->detail.present())
    record->placeText(record->detail, "", 0);
  record->nominalSize = nominalSizeOf(size_t{urlSizeEstimate()} + 72);
  queueEvent(env, data, record);
  // The correlation token lives exactly as long as the outermost request.
  if (data->requestDepth() == 0 && data->own().gpsToken) data->releaseGpsToken();
}

void sendRequestRecordFromJava(JNIEnv* env, ThreadData* data, RequestRecord* record,
                               jstring requestName, jstring applicationName, jstring url,
                               RequestStep step) {
  JavaChars name(env, requestName);
  JavaChars application(env, applicationName);
  JavaChars address(env, url);
  sendRequestRecord(env, data, record, RequestTexts(name.text(), application.text(), address.text()),
                    step);
}
