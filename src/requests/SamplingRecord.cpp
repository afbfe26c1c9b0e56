#include "requests/SamplingRecord.h"

#include <new>

#include "events/AgentRecords.h"
#include "requests/RecordFill.h"
#include "threads/ThreadData.h"
#include "threads/ThreadId.h"
#include "threads/ThreadMgr.h"

bool sendSamplingRatesRecord(JNIEnv* env, const int32_t rates[4], int32_t flag) {
  SamplingRatesRecord* record = new (std::nothrow) SamplingRatesRecord(SUBTYPE_SINGLE);
  if (!record) return false;
  record->threadId = threadIdOf(env);
  for (int i = 0; i < 4; i++) record->rates[i] = rates[i];
  record->flag = flag;
  stampWallClock(record);
  return queueEvent(env, nullptr, record);
}
