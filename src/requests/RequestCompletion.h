// The common completion of request records (HTTP, EJB, trace, correlation,
// portal): thread id, time stamps, the three texts cut to the URL limit, the
// URL size estimate, the nominal size, queueing, and the release of the
// thread's correlation token once the outermost request is over.
#pragma once

#include <jni.h>

#include <cstddef>

#include "base/MeasuredText.h"
#include "events/RequestRecord.h"

class ThreadData;

// A step run after the time stamps and before the texts (the correlation
// token of type 14 records). It may fill the record's first text itself, which
// a null request name then leaves as it is. Answering false abandons the
// record: it is released and nothing is queued.
using RequestStep = bool (*)(JNIEnv* env, ThreadData* data, RequestRecord* record);

// The request name, application name and URL of a request record, each
// measured and cut to the URL limit once, and an optional detail text kept
// whole. The lengths size the record's spare bytes and the copies use them.
struct RequestTexts {
  RequestTexts(MeasuredText requestName, MeasuredText applicationName, MeasuredText url,
               MeasuredText detail = MeasuredText());
  // The spare bytes a record made with RequestRecord::make needs to hold the
  // texts, so that the record and its texts are one block.
  size_t spareBytes() const;

  const char* text[3];
  // The bytes kept of each text, without its zero (0 for a null text).
  size_t length[3];
  const char* detail;
  size_t detailLength;
};

// Completes and queues the record; ownership passes in. With no ThreadData
// the record is released and "Internal Error: storage is NULL for Thread" is
// logged. Null texts become empty texts (each noted at debug level under
// "PROBE_DEBUG"); the detail text, when neither given nor set by the caller,
// is empty.
void sendRequestRecord(JNIEnv* env, ThreadData* data, RequestRecord* record,
                       const RequestTexts& texts, RequestStep step = nullptr);
void sendRequestRecord(JNIEnv* env, ThreadData* data, RequestRecord* record,
                       const char* requestName, const char* applicationName, const char* url,
                       RequestStep step = nullptr);

// The same with Java strings, whose characters are held only for the copy.
void sendRequestRecordFromJava(JNIEnv* env, ThreadData* data, RequestRecord* record,
                               jstring requestName, jstring applicationName, jstring url,
                               RequestStep step = nullptr);
