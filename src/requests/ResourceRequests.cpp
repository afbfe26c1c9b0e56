#include "requests/ResourceRequests.h"

#include <cstring>
#include <new>

#include "base/Log.h"
#include "events/ReportRecords.h"
#include "events/RequestRecord.h"
#include "events/ResourceRecords.h"
#include "requests/NestedRequests.h"
#include "requests/RecordFill.h"
#include "threads/TextLimits.h"
#include "threads/ThreadData.h"
#include "threads/ThreadDrain.h"
#include "threads/ThreadId.h"
#include "threads/ThreadMgr.h"

namespace {

// Depth handling of the pairs recorded only inside a request. `suppressible`
// marks the kinds that nested suppression removes.
bool openInsideRequest(ThreadData* data, bool suppressible) {
  if (!data || data->requestDepth() == 0) return false;
  if (suppressible && swallowNestedBegin(data)) return false;
  data->requestDepth()++;
  return true;
}

bool closeInsideRequest(ThreadData* data, bool suppressible) {
  if (!data || data->requestDepth() == 0) return false;
  return !(suppressible && swallowNestedEnd(data));
}

void lowerDepth(ThreadData* data) {
  if (data->requestDepth() >= 1) data->requestDepth()--;
}

// Stamps a record of a begin/end pair, sets its thread id and queues it.
void queuePaired(JNIEnv* env, ThreadData* data, EventRecord* record) {
  record->threadId = threadIdOf(env);
  if (record->subtype == SUBTYPE_BEGIN)
    stampBegin(record);
  else
    stampEnd(record);
  queueEvent(env, data, record);
}

// SQL begin from the depth step on: shared by the agent's natives and the
// driver's statement class.
void queueSqlBegin(JNIEnv* env, ThreadData* data, const char* sql, const char* dataSource) {
  data->requestDepth()++;
  SqlRecord* record = new (std::nothrow) SqlRecord(SUBTYPE_BEGIN);
  if (!record) return;
  record->depth = data->requestDepth();
  record->threadId = threadIdOf(env);
  stampBegin(record);
  if (!dataSource) logCatalogArgs(LOG_DEBUG, "PROBE_DEBUG", "data source name = null");
  copyText(record->dataSourceName, dataSource);
  if (sql)
    sampleSqlSize(copyCutText(record->sqlText, sql, sqlLimit()));
  else {
    logCatalogArgs(LOG_DEBUG, "PROBE_DEBUG", "sql = null");
    copyText(record->sqlText, "");
  }
  record->nominalSize = nominalSizeOf(size_t{sqlSizeEstimate()} + 64);
  accountTexts(record, sizeof(SqlRecord), {&record->dataSourceName, &record->sqlText});
  queueEvent(env, data, record);
  logCatalogArgs(LOG_DEBUG, "PROBE_DEBUG4", "Data Source Name:", dataSource ? dataSource : "",
                 "SQL:", sql ? sql : "");
}

void queueSqlEnd(JNIEnv* env, ThreadData* data) {
  SqlRecord* record = new (std::nothrow) SqlRecord(SUBTYPE_END);
  if (record) {
    record->depth = data->requestDepth();
    record->nominalSize = nominalSizeOf(size_t{sqlSizeEstimate()} + 64);
    accountTexts(record, sizeof(SqlRecord), {});
    queuePaired(env, data, record);
  }
  lowerDepth(data);
}

void queueJms(JNIEnv* env, ThreadData* data, int subtype, int kind, const char* a, const char* b,
              const char* c) {
  JmsRecord* record = new (std::nothrow) JmsRecord(subtype);
  if (!record) return;
  record->depth = data->requestDepth();
  record->kind = kind >= 1 && kind <= 4 ? kind : 3;
  size_t first = copyText(record->destination, b);
  size_t second = copyText(record->text2, a);
  copyText(record->text3, c);
  record->nominalSize = nominalSizeOf(first + second + 72);
  queuePaired(env, data, record);
}

void queueJca(JNIEnv* env, ThreadData* data, int subtype, const char* text) {
  JcaRecord* record = new (std::nothrow) JcaRecord(subtype);
  if (!record) return;
  record->depth = data->requestDepth();
  record->nominalSize = nominalSizeOf(copyText(record->name, text) + 56);
  queuePaired(env, data, record);
}

// JNDI and Mail records share their filling: name is the second argument,
// text2 the first.
template <typename Record>
void queueNamePair(JNIEnv* env, ThreadData* data, int subtype, const char* a, const char* b) {
  Record* record = new (std::nothrow) Record(subtype);
  if (!record) return;
  record->depth = data->requestDepth();
  size_t lengths = copyText(record->name, b) + copyText(record->text2, a);
  record->nominalSize = nominalSizeOf(lengths + 64);
  queuePaired(env, data, record);
}

void queueMqRequest(JNIEnv* env, ThreadData* data, int subtype, const char* a, const char* b,
                    int value) {
  MqRequestRecord* record = new (std::nothrow) MqRequestRecord(subtype);
  if (!record) return;
  record->depth = data->requestDepth();
  record->code = value;
  size_t lengths = copyText(record->queueManager, b) + copyText(record->queueName, a);
  record->nominalSize = nominalSizeOf(lengths + 88);
  queuePaired(env, data, record);
}

}  // namespace

void beginNativeSQLRequest(JNIEnv* env, ThreadData* data, const char* sql, const char* dataSource) {
  if (!data || swallowNestedBegin(data)) return;
  data->own().sqlDepth++;
  queueSqlBegin(env, data, sql, dataSource);
}

void endNativeSQLRequest(JNIEnv* env, ThreadData* data) {
  if (!data || swallowNestedEnd(data)) return;
  data->own().sqlDepth--;
  queueSqlEnd(env, data);
}

void beginOracleSQLRequest(JNIEnv* env, ThreadData* data, const char* sql, const char* dataSource) {
  if (!data || data->own().sqlDepth > 0) return;
  queueSqlBegin(env, data, sql, dataSource);
}

void endOracleSQLRequest(JNIEnv* env, ThreadData* data) {
  if (!data || data->own().sqlDepth > 0) return;
  queueSqlEnd(env, data);
}

void setSQL(ThreadData* data, const char* sql, const char* dataSource) {
  if (!data || !sql) return;
  data->setStatement(sql, dataSource);
}

void beginNativeJCARequest(JNIEnv* env, ThreadData* data, const char* text) {
  if (openInsideRequest(data, true)) queueJca(env, data, SUBTYPE_BEGIN, text);
}

void endNativeJCARequest(JNIEnv* env, ThreadData* data, const char* text) {
  if (!closeInsideRequest(data, true)) return;
  queueJca(env, data, SUBTYPE_END, text);
  lowerDepth(data);
}

void beginNativeJMSRequest(JNIEnv* env, ThreadData* data, int kind, const char* a, const char* b,
                           const char* c) {
  if (openInsideRequest(data, true)) queueJms(env, data, SUBTYPE_BEGIN, kind, a, b, c);
}

void endNativeJMSRequest(JNIEnv* env, ThreadData* data, int kind, const char* a, const char* b,
                         const char* c) {
  if (!closeInsideRequest(data, true)) return;
  queueJms(env, data, SUBTYPE_END, kind, a, b, c);
  lowerDepth(data);
}

void beginNativeJNDIRequest(JNIEnv* env, ThreadData* data, const char* a, const char* b) {
  if (openInsideRequest(data, true)) queueNamePair<JndiRecord>(env, data, SUBTYPE_BEGIN, a, b);
}

void endNativeJNDIRequest(JNIEnv* env, ThreadData* data, const char* a, const char* b) {
  if (!closeInsideRequest(data, true)) return;
  queueNamePair<JndiRecord>(env, data, SUBTYPE_END, a, b);
  lowerDepth(data);
}

void beginNativeMailRequest(JNIEnv* env, ThreadData* data, const char* a, const char* b) {
  if (openInsideRequest(data, false)) queueNamePair<MailRecord>(env, data, SUBTYPE_BEGIN, a, b);
}

void endNativeMailRequest(JNIEnv* env, ThreadData* data, const char* a, const char* b) {
  if (!closeInsideRequest(data, false)) return;
  queueNamePair<MailRecord>(env, data, SUBTYPE_END, a, b);
  lowerDepth(data);
}

void beginNativeMQRequest(JNIEnv* env, ThreadData* data, const char* a, const char* b, int value) {
  if (openInsideRequest(data, false)) queueMqRequest(env, data, SUBTYPE_BEGIN, a, b, value);
}

void endNativeMQRequest(JNIEnv* env, ThreadData* data, const char* a, const char* b, int value,
                        const uint8_t* message, int length, bool withContent) {
  if (!closeInsideRequest(data, false)) return;
  queueMqRequest(env, data, SUBTYPE_END, a, b, value);
  lowerDepth(data);
  // The content is recorded only when the MQ call was nested in a request.
  if (!withContent || data->requestDepth() == 0) return;
  if (length < 0 || (!message && length > 0)) length = 0;
  data->requestDepth()++;
  MqMessageRecord* content = new (std::nothrow) MqMessageRecord(SUBTYPE_BEGIN);
  if (content) {
    content->message.reset(new (std::nothrow) uint8_t[static_cast<size_t>(length) + 1]);
    if (content->message) {
      if (length > 0) std::memcpy(content->message.get(), message, static_cast<size_t>(length));
      content->messageLength = length;
    }
    content->depth = data->requestDepth();
    content->operation = value;
    content->nominalSize = nominalSizeOf(copyText(content->messageId, b) + 96);
    queuePaired(env, data, content);
  }
  MqMessageRecord* end = new (std::nothrow) MqMessageRecord(SUBTYPE_END);
  if (end) {
    end->depth = data->requestDepth();
    end->operation = value;
    end->nominalSize = 96;
    queuePaired(env, data, end);
  }
  data->requestDepth()--;
}

bool mqiArraysUsable(int opsLength, int valuesLength, int timesLength, int n) {
  // A missing array has length -1. The 32-bit and 64-bit arrays must hold n
  // elements too: fewer would be read past their end.
  return opsLength >= 0 && valuesLength >= 0 && timesLength >= 0 && n > 0 && opsLength == n &&
         valuesLength >= n && timesLength >= n;
}

void sendNativeMQIRecord(JNIEnv* env, ThreadData* data, const char* a, const char* b, int64_t c,
                         std::unique_ptr<uint8_t[]> ops, std::unique_ptr<uint32_t[]> values,
                         std::unique_ptr<int64_t[]> times, int n) {
  if (!data || n <= 0 || !ops || !values || !times) return;
  MqiRecord* record = new (std::nothrow) MqiRecord(SUBTYPE_SINGLE);
  if (!record) return;
  record->threadId = threadIdOf(env);
  size_t lengths = copyText(record->text1, a) + copyText(record->text2, b);
  record->value = c;
  record->ops = std::move(ops);
  record->values = std::move(values);
  record->times = std::move(times);
  record->count = n;
  record->nominalSize = nominalSizeOf(lengths + 80);
  queueEvent(env, data, record);
}

void sendNativeGXRRecord(JNIEnv* env, ThreadData* data, const char* a, const char* b, const char* c,
                         int64_t d, int e, int64_t f) {
  if (!data) return;
  GxrRecord* record = new (std::nothrow) GxrRecord(SUBTYPE_SINGLE);
  if (!record) return;
  record->threadId = threadIdOf(env);
  size_t lengths =
      copyText(record->text1, a) + copyText(record->text2, b) + copyText(record->text3, c);
  record->value1 = d;
  record->number = static_cast<uint32_t>(e);
  record->value2 = f;
  record->nominalSize = nominalSizeOf(lengths + 88);
  queueEvent(env, data, record);
}

void nativeSendException(JNIEnv* env, ThreadData* data, const char* a, const char* b, const char* c,
                         const char* d) {
  if (!data) return;
  ExceptionRecord* record = new (std::nothrow) ExceptionRecord(SUBTYPE_SINGLE);
  if (!record) return;
  record->threadId = threadIdOf(env);
  copyText(record->text1, a);
  copyText(record->text2, b);
  copyText(record->text3, c);
  copyText(record->text4, d);
  record->nominalSize = 64;
  queueEvent(env, data, record);
}

void sendStatusEvent(JNIEnv* env, const char* status) {
  ThreadDrain* drain = threadDrain();
  ThreadData* special = drain ? drain->firstSpecialQueue() : nullptr;
  if (!special) return;
  PsStatusRecord* record = new (std::nothrow) PsStatusRecord(SUBTYPE_SINGLE);
  if (!record) return;
  record->threadId = threadIdOf(env);
  record->nominalSize = nominalSizeOf(copyText(record->status, status) + 56);
  special->appendEvent(record);
}
